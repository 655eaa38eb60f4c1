// The two ways a session runs, each in a file of its own: driving the
// library through its exports, and planning a dry run from the files alone.
#ifndef ZELSYNC_TOOL_SESSION_STEPS_H
#define ZELSYNC_TOOL_SESSION_STEPS_H

#include <filesystem>

#include "session.h"

namespace zelsync_tool {

// Runs the session through the library's exports, filling *report. A
// SyncML session that a killed host left open in `sync_folder` is rolled
// back first. The phone is saved after each object moved.
void DriveSession(const Exports& library, Phone* phone, const SessionOptions& options,
                  const std::filesystem::path& sync_folder, SessionReport* report);

// Fills *report with what a session would move, read from the phone's
// folder and the library's bookkeeping files in `sync_folder` without
// calling the library. Nothing is written.
void PlanDryRun(Phone* phone, const SessionOptions& options, const std::filesystem::path& sync_folder,
                SessionReport* report);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_SESSION_STEPS_H
