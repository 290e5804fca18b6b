#pragma once

#include <functional>

class QProcess;

// What every program this application starts is given of its descriptors: standard input,
// output and error, nothing else. The application holds many that are not marked close-on-exec
// (the web engine's channels to its helper processes, shared memory, the DevTools listener when
// remote debugging is on), and a child, and every process that child starts in turn, would
// otherwise keep them open for as long as it runs.
class KRChildProcess
{
public:
    // In the child, between fork and exec (after standard input, output and error are in
    // place): every descriptor above standard error is closed when the program is run. They are
    // marked close-on-exec rather than closed, so that the starter's own channel reporting a
    // failed exec (marked so already) still works until then. Async-signal-safe: system calls
    // only, no allocation, no lock.
    static void closeDescriptorsOnExec() noexcept;

    // Makes `process` start its program so: `modifier` (what QProcess::setChildProcessModifier
    // takes) runs first in the child, then closeDescriptorsOnExec(). Replaces a modifier set
    // before.
    static void setChildProcessModifier(QProcess &process, std::function<void()> modifier = {});
};
