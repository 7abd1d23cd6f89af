#pragma once

// The parts of the start-up that build the main window's commands and views:
// the commands with their icons and the command bar painted, and the day,
// week and month views made and given their fonts.
void runStartupBench();
