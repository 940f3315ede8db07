#pragma once
// Work that waits on the world (the administrator's install, which waits for a password dialog;
// a list fetched from the web) runs beside the event loop, so that the window keeps drawing.

#include <functional>
#include <memory>

#include "fetch/fetch_list.h"
#include "platform/platform.h"

namespace vellomar::app {

// Runs `work` on a worker thread while every window is disabled (it draws, but takes no click,
// so nothing can be started twice) and events are handled; returns when the work is done. The
// work must not touch widgets; it may post to them.
void RunBesideEvents(const std::function<void()>& work);

// Wraps `inner`: the administrator's install runs as RunBesideEvents runs work.
std::unique_ptr<platform::Launcher> WaitingInWindow(std::unique_ptr<platform::Launcher> inner);

// Wraps `get`: each fetch runs as RunBesideEvents runs work, its body handed over on the worker.
fetch::HttpGetter FetchingInWindow(fetch::HttpGetter get);

}  // namespace vellomar::app
