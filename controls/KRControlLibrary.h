#pragma once

// Registers every page-object class of the control library with the class registry. Call once
// at start-up (the application, the builder's command-line uses and the tests); a second call
// changes nothing.
void registerControlLibrary();

// The two halves, each registering its own classes.
void registerBasicControls();     // control bases, plain HTML controls, form and option-list widgets
void registerCompositeControls(); // toolbars, list view, graph, photo gallery, pop-up, plug-ins
