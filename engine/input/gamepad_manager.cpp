#include "engine/input/gamepad_manager.h"

namespace zel {

GamepadManager& GamepadManager::instance() {
    static GamepadManager manager;
    return manager;
}

void GamepadManager::initialise() {
    std::lock_guard<std::mutex> g(lock_);
    if (backend_) backend_->refresh();
}

bool GamepadManager::submit(const RemoteInputEvent& event) {
    std::lock_guard<std::mutex> g(lock_);
    return backend_ && backend_->submit(event);
}

void GamepadManager::resetAll() {
    std::lock_guard<std::mutex> g(lock_);
    if (backend_) backend_->resetAll();
}

bool GamepadManager::isAvailable() {
    std::lock_guard<std::mutex> g(lock_);
    return backend_ && backend_->isAvailable();
}

std::string GamepadManager::statusMessage() {
    std::lock_guard<std::mutex> g(lock_);
    return backend_ ? backend_->statusMessage() : std::string();
}

void GamepadManager::setBackend(std::unique_ptr<GamepadBackend> backend) {
    std::lock_guard<std::mutex> g(lock_);
    backend_ = std::move(backend);
}

}  // namespace zel
