#pragma once

#include <functional>

class QObject;

// Hands work to the main thread's event loop from any thread. Each call runs in a later turn
// of the loop, in the order posted (delayed calls by their due time). A call tied to a
// receiver is dropped when the receiver is destroyed before it runs; the receiver must live
// on the main thread. Calls posted once the application object is gone are dropped.
namespace KRMainThread {

void post(QObject *receiver, std::function<void()> fn);
void post(std::function<void()> fn);
void postDelayed(int milliseconds, QObject *receiver, std::function<void()> fn);
void postDelayed(int milliseconds, std::function<void()> fn);

bool isMainThread();

} // namespace KRMainThread
