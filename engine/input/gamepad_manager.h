#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace zel {

struct RemoteInputEvent;

// A driver that presents virtual game controllers to the system. Each
// implementation serialises its operations with its own mutex.
class GamepadBackend {
public:
    virtual ~GamepadBackend() = default;
    virtual void refresh() = 0;
    virtual bool submit(const RemoteInputEvent& event) = 0;
    virtual void resetAll() = 0;
    virtual bool isAvailable() = 0;
    virtual std::string statusMessage() = 0;
    virtual const char* name() = 0;
};

// The process-wide owner of the gamepad backend. Until a backend is installed
// (the platform's drivers plug in here), gamepads are reported unavailable and
// events are refused.
class GamepadManager {
public:
    static GamepadManager& instance();

    // Brings the backend up once at engine start, before any session exists.
    void initialise();
    bool submit(const RemoteInputEvent& event);
    // Neutral reports for every pad; called after every connection.
    void resetAll();
    bool isAvailable();
    std::string statusMessage();

    // Replaces the backend; only before sessions run (start-up and tests).
    void setBackend(std::unique_ptr<GamepadBackend> backend);

private:
    GamepadManager() = default;
    std::mutex lock_;
    std::unique_ptr<GamepadBackend> backend_;
};

}  // namespace zel
