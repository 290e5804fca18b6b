#pragma once

// Makes the project window the window of every project the application opens, and puts the
// window's commands into the shared menu between the application's own.
void installProjectWindows();
