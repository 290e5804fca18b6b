#pragma once

// Readies the page classes a build makes: registers the page class and the control library.
// The application calls it once at start-up, before the first build; calling it again
// changes nothing. Page output finds the loaded plug-ins' run-time scripts by itself (the
// data is looked up per build, so plug-ins loaded later are found too).
void setUpProjectBuilder();
