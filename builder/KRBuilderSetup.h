#pragma once

// Readies the page classes a build makes: registers the page class and the control library,
// and feeds page output the run-time scripts of plug-in classes (KRPlugin's bundle paths, the
// scripts of plug-in superclasses first). The application calls it once at start-up, before
// the first build (plug-ins loaded later are found too, the data is looked up per build);
// calling it again changes nothing.
void setUpProjectBuilder();
