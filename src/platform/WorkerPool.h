// The threads that decode, measure, render and encode off the main thread.
#pragma once

#include <QThreadPool>

#include <functional>

namespace korvanta {

// A process-wide pool of its own, one thread per processor. Qt's global pool must stay free:
// Qt's software renderer hands parts of painting the window to it and waits for them on the
// main thread, so a song being measured there would freeze the window until it finished.
QThreadPool& workerPool();

// Runs `job` on the pool. Its threads run a little below normal priority, so that on a busy
// machine the main thread (the window, the terminal's progress bar) gets a processor first.
void runOnWorker(std::function<void()> job);

}  // namespace korvanta
