#pragma once

// The overlay application: Qt on X11, one controller, its event loop; returns the exit status.
int KVRunGUI();
