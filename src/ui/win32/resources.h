#pragma once

// Resource numbers shared by the program and its resource script.
#define BEAM_TAILOR_ICON 1
