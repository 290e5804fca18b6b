#pragma once

// Makes the project window the window of every project the application opens, and puts the
// window's commands into the shared menu between the application's own.
void installProjectWindows();

// Closes every project window without asking (at the end of the run, while the application
// object still exists).
void closeProjectWindows();
