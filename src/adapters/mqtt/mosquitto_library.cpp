#include "adapters/mqtt/mosquitto_library.h"

#include <cstdlib>
#include <mutex>
#include <type_traits>

namespace glowcast {

std::unique_ptr<MosquittoLibrary> MosquittoLibrary::open(const std::string& soname, Log& log)
{
    auto opened = std::make_unique<MosquittoLibrary>();
    opened->library = SharedLibrary::openSystem(soname, log);
    if (!opened->library)
        return nullptr;
    const SharedLibrary& library = *opened->library;
    // Each function is taken by the name it is declared with, so that a member cannot get another's.
#define GLOWCAST_TAKE(member, name)                                                                                    \
    ((opened->member = library.function<std::remove_pointer_t<decltype(&::name)>>(#name)) != nullptr)
    const bool complete =
        GLOWCAST_TAKE(libInit, mosquitto_lib_init) && GLOWCAST_TAKE(libCleanup, mosquitto_lib_cleanup) &&
        GLOWCAST_TAKE(strerror, mosquitto_strerror) && GLOWCAST_TAKE(reasonString, mosquitto_reason_string) &&
        GLOWCAST_TAKE(create, mosquitto_new) && GLOWCAST_TAKE(destroy, mosquitto_destroy) &&
        GLOWCAST_TAKE(connectCallbackSet, mosquitto_connect_callback_set) &&
        GLOWCAST_TAKE(disconnectCallbackSet, mosquitto_disconnect_callback_set) &&
        GLOWCAST_TAKE(messageCallbackSet, mosquitto_message_callback_set) &&
        GLOWCAST_TAKE(reconnectDelaySet, mosquitto_reconnect_delay_set) &&
        GLOWCAST_TAKE(intOption, mosquitto_int_option) &&
        GLOWCAST_TAKE(propertyAddInt32, mosquitto_property_add_int32) &&
        GLOWCAST_TAKE(propertyFreeAll, mosquitto_property_free_all) &&
        GLOWCAST_TAKE(connectBindV5, mosquitto_connect_bind_v5) &&
        GLOWCAST_TAKE(usernamePwSet, mosquitto_username_pw_set) && GLOWCAST_TAKE(willSet, mosquitto_will_set) &&
        GLOWCAST_TAKE(connectAsync, mosquitto_connect_async) && GLOWCAST_TAKE(loopStart, mosquitto_loop_start) &&
        GLOWCAST_TAKE(loopStop, mosquitto_loop_stop) && GLOWCAST_TAKE(wantWrite, mosquitto_want_write) &&
        GLOWCAST_TAKE(disconnect, mosquitto_disconnect) &&
        GLOWCAST_TAKE(subscribeMultiple, mosquitto_subscribe_multiple) &&
        GLOWCAST_TAKE(unsubscribeMultiple, mosquitto_unsubscribe_multiple) && GLOWCAST_TAKE(publish, mosquitto_publish);
#undef GLOWCAST_TAKE
    return complete ? std::move(opened) : nullptr;
}

const MosquittoLibrary* MosquittoLibrary::get(Log& log)
{
    static std::mutex opening;
    // Never closed: a network thread may still run in it while the process ends.
    static MosquittoLibrary* process = nullptr;
    std::lock_guard lock(opening);
    if (process == nullptr)
        if (std::unique_ptr<MosquittoLibrary> opened = open(kSoname, log)) {
            opened->libInit();
            process = opened.release();
            std::atexit([] { process->libCleanup(); });
        }
    return process;
}

} // namespace glowcast
