#include "voice/PulseWatch.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <time.h>

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
        static_cast<Impl*>(user)->subscribed = success != 0 ? 1 : -1;
    }

    // Waits with the loop locked; polled, since the threaded loop's own wait
    // has no deadline and a server may accept and never answer.
    template <typename Done>
    bool WaitUntil(Done done, std::chrono::steady_clock::time_point deadline) {
        while (!done()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
                std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            pa_threaded_mainloop_unlock(loop);
            struct timespec pause {
                0, 5'000'000
            };
            nanosleep(&pause, nullptr);
            pa_threaded_mainloop_lock(loop);
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
    if (pa_context_connect(impl->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(impl->loop) < 0) {
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + PulseSessions::kDeadline;
    Impl* state = impl.get();
    pa_threaded_mainloop_lock(impl->loop);
    // Queued under the lock, as the loop's task list is not shared otherwise.
    pa_threaded_mainloop_once_unlocked(impl->loop, &Impl::OnLoopThread, nullptr);
    bool ready = impl->WaitUntil(
        [state] { return pa_context_get_state(state->context) == PA_CONTEXT_READY; }, deadline);
    if (ready) {
        // Waited for, so that no stream that appears after Start returns is missed.
        pa_operation* operation = pa_context_subscribe(
            impl->context, PA_SUBSCRIPTION_MASK_SINK_INPUT, &Impl::OnSubscribed, state);
        ready = operation != nullptr &&
                impl->WaitUntil([state] { return state->subscribed != 0; }, deadline) &&
                impl->subscribed > 0;
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }
    pa_threaded_mainloop_unlock(impl->loop);
    if (!ready) {
        return nullptr;
    }
    std::unique_ptr<PulseWatch> watch(new PulseWatch());
    watch->m_impl = std::move(impl);
    return watch;
}

PulseWatch::~PulseWatch() = default;
