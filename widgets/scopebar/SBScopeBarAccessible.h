#pragma once

class SBScopeBar;

// Makes a scope bar's painted buttons known to assistive tools: each button of a group that is
// not folded into a pop-up is an accessible toggle button named by its title, on while its
// object is selected, and pressed through the accessible action as by a click.
void SBInstallScopeBarAccessibility();
