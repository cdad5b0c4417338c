#pragma once
// Moves the process's current directory to the folder of the plugin's own library, so that a
// runtime or plug-in the Media SDK looks for beside the plugin is found. Any failure is silent.
namespace korvala {
void MoveToModuleDirectory();
}
