#include "mastering/AudioFile.h"

namespace korvanta {

const char* processingStatusName(ProcessingStatus status) {
    switch (status) {
    case ProcessingStatus::pending: return "pending";
    case ProcessingStatus::processing: return "processing";
    case ProcessingStatus::completed: return "completed";
    case ProcessingStatus::failed: return "failed";
    }
    return "pending";
}

}  // namespace korvanta
