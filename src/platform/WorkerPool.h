// The threads that decode, measure, render and encode off the main thread.
#pragma once

#include <QThreadPool>

namespace korvanta {

// A process-wide pool of its own, one thread per processor. Qt's global pool must stay free:
// Qt's software renderer hands parts of painting the window to it and waits for them on the
// main thread, so a song being measured there would freeze the window until it finished.
QThreadPool& workerPool();

}  // namespace korvanta
