// The desktop services reached over the session bus: the notification service for the
// data-plan alerts and the file-chooser portal for the statistics export. Every use opens
// its own connection, so that nothing is held while the features are idle.
#pragma once

#include <functional>
#include <string>

namespace notify {

// Shows a desktop notification; false when no notification service answered.
bool send(const std::string& summary, const std::string& body, bool urgent);

// Shows the folder holding `path` in the file manager, the file selected; false when no
// file manager answered.
bool show_file(const std::string& path);

// The portal's answers to a save dialog.
enum Response { kChosen = 0, kCancelled = 1, kFailed = 2 };

// Asks the file-chooser portal where to save a file suggested as `name`. `done` runs later
// on the default main context with the answer and, when a file was chosen, its local path.
// False when no portal answered; `done` then never runs.
bool save_file(const std::string& title, const std::string& name,
               std::function<void(int response, const std::string& path)> done);

// Drops every unanswered dialog without calling back (the caller goes away).
void forget_pending();

} // namespace notify
