#pragma once

#include <functional>

// Runs `fn` on the main thread: at once when called there, else queued without waiting
// (so the network thread never blocks on the main thread). Without an application object
// the function runs on the calling thread.
void netPerformOnMainThread(std::function<void()> fn);
bool netIsMainThread();
