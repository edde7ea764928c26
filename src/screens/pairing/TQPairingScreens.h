#pragma once

#include "screens/TQScreenServices.h"

class TQStoryboard;

// Registers the welcome page ("setupView"), the scan list ("deviceTablePageid") and the
// connecting page in place of their placeholders, each made over services, which outlive the
// storyboard.
void registerPairingScreens(TQStoryboard& storyboard, const TQScreenServices& services);
