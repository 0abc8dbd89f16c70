#include "voice/PulseWatch.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <atomic>
#include <chrono>

#include "app/AltSignalStack.h"
#include "voice/PulseSessions.h"

struct PulseWatch::Impl {
    Added added;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    // 1 once the server took the subscription, -1 refused. Set on the loop's
    // thread; atomic, as the loop's lock is inside libpulse.
    std::atomic<int> subscribed{0};
    std::atomic<bool> timedOut{false};  // likewise, set by the loop's deadline timer

    ~Impl() {
        if (loop != nullptr) {
            // Joins the thread; a callback under way is waited for.
            pa_threaded_mainloop_stop(loop);
        }
        if (context != nullptr) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop != nullptr) {
            pa_threaded_mainloop_free(loop);
        }
    }

    // First thing on the loop's thread: a signal stack of its own for as long
    // as the thread lives, so a stack overflow there still writes the crash
    // record. libpulse makes the thread, hence a thread-local.
    static void OnLoopThread(pa_threaded_mainloop* /*loop*/, void* /*user*/) {
        thread_local const AltSignalStack signalStack;
    }

    static void OnSubscribed(pa_context* /*context*/, int success, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->subscribed = success != 0 ? 1 : -1;
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void OnState(pa_context* /*context*/, void* user) {
        pa_threaded_mainloop_signal(static_cast<Impl*>(user)->loop, 0);
    }

    // The threaded loop's own wait has no deadline, and a server may accept
    // and never answer: a timer on the loop wakes the wait at the deadline.
    static void OnDeadline(pa_mainloop_api* /*api*/, pa_time_event* /*event*/,
                           const struct timeval* /*when*/, void* user) {
        auto* self = static_cast<Impl*>(user);
        self->timedOut = true;
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    // Waits with the loop locked, woken by the loop's callbacks.
    template <typename Done>
    bool WaitUntil(Done done) {
        while (!done()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || timedOut) {
                return false;
            }
            pa_threaded_mainloop_wait(loop);
        }
        return true;
    }

    static void OnInfo(pa_context* /*context*/, const pa_sink_input_info* info, int eol,
                       void* user) {
        if (eol != 0 || info == nullptr) {
            return;  // gone again before it could be described
        }
        PulseStream stream;
        if (PulseStream::FromInfo(*info, stream)) {
            static_cast<Impl*>(user)->added(stream);
        }
    }

    static void OnEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* user) {
        auto* self = static_cast<Impl*>(user);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            return;
        }
        if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_NEW) {
            return;
        }
        if (pa_operation* operation =
                pa_context_get_sink_input_info(context, index, &OnInfo, self)) {
            pa_operation_unref(operation);
        }
    }
};

std::unique_ptr<PulseWatch> PulseWatch::Start(Added added) {
    auto impl = std::make_unique<Impl>();
    impl->added = std::move(added);
    impl->loop = pa_threaded_mainloop_new();
    if (impl->loop == nullptr) {
        return nullptr;
    }
    pa_threaded_mainloop_set_name(impl->loop, "voice-shield");
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Voice audio sessions");
    impl->context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(impl->loop), nullptr, props);
    pa_proplist_free(props);
    if (impl->context == nullptr) {
        return nullptr;
    }
    pa_context_set_subscribe_callback(impl->context, &Impl::OnEvent, impl.get());
    pa_context_set_state_callback(impl->context, &Impl::OnState, impl.get());
    if (pa_context_connect(impl->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(impl->loop) < 0) {
        return nullptr;
    }
    const auto limit =
        std::chrono::duration_cast<std::chrono::microseconds>(PulseSessions::kDeadline);
    Impl* state = impl.get();
    pa_threaded_mainloop_lock(impl->loop);
    // Queued under the lock, as the loop's task list is not shared otherwise.
    pa_threaded_mainloop_once_unlocked(impl->loop, &Impl::OnLoopThread, nullptr);
    pa_time_event* deadline = pa_context_rttime_new(impl->context, pa_rtclock_now() + limit.count(),
                                                    &Impl::OnDeadline, state);
    bool ready = deadline != nullptr && impl->WaitUntil([state] {
        return pa_context_get_state(state->context) == PA_CONTEXT_READY;
    });
    if (ready) {
        // Waited for, so that no stream that appears after Start returns is missed.
        pa_operation* operation = pa_context_subscribe(
            impl->context, PA_SUBSCRIPTION_MASK_SINK_INPUT, &Impl::OnSubscribed, state);
        ready = operation != nullptr &&
                impl->WaitUntil([state] { return state->subscribed != 0; }) && impl->subscribed > 0;
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }
    if (deadline != nullptr) {
        pa_threaded_mainloop_get_api(impl->loop)->time_free(deadline);
    }
    pa_context_set_state_callback(impl->context, nullptr, nullptr);
    pa_threaded_mainloop_unlock(impl->loop);
    if (!ready) {
        return nullptr;
    }
    std::unique_ptr<PulseWatch> watch(new PulseWatch());
    watch->m_impl = std::move(impl);
    return watch;
}

PulseWatch::~PulseWatch() = default;
