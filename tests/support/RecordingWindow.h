// A window that only records what the viewer asks of it: every call in order,
// and the state those calls leave (title, command states, quit status).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "viewer/ViewerWindow.h"

namespace qel::testing {

class RecordingWindow : public ViewerWindow {
public:
    void setTitle(const std::string& t) override {
        title = t;
        calls.push_back("title " + t);
    }
    void setCommandEnabled(int id, bool enabled) override {
        commands[id] = enabled;
        calls.push_back((enabled ? "enable " : "gray ") + std::to_string(id));
    }
    void repaintNow() override {
        ++repaints;
        calls.push_back("repaint");
    }
    void quit(int status) override {
        quitStatus = status;
        calls.push_back("quit " + std::to_string(status));
    }
    void acceptDrops() override {
        acceptsDrops = true;
        calls.push_back("accept drops");
    }

    // The calls made since the last take.
    std::vector<std::string> take() { return std::exchange(calls, {}); }

    std::vector<std::string> calls;
    std::string title;
    std::map<int, bool> commands;
    int repaints = 0;
    int quitStatus = -1;
    bool acceptsDrops = false;
};

}  // namespace qel::testing
