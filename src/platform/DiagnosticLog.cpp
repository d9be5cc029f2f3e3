#include "platform/DiagnosticLog.h"

#include <atomic>
#include <mutex>

namespace korvanta {

namespace {

std::mutex sinkMutex;
DiagnosticSink currentSink;  // guarded by sinkMutex
std::atomic<bool> sinkInstalled{false};

}  // namespace

void setDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard lock(sinkMutex);
    currentSink = std::move(sink);
    sinkInstalled = static_cast<bool>(currentSink);
}

bool diagnosticsWanted() { return sinkInstalled.load(std::memory_order_relaxed); }

void logDiagnostic(std::string_view line) {
    if (!diagnosticsWanted()) return;
    std::lock_guard lock(sinkMutex);
    if (currentSink) currentSink(line);
}

}  // namespace korvanta
