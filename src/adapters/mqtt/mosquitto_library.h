#pragma once

#include "adapters/process/shared_library.h"
#include "core/ports/log.h"

#include <mosquitto.h>

#include <memory>
#include <string>

namespace glowcast {

// Debian's libmosquitto, opened when the first MQTT client starts, so that a service with no broker
// configured maps neither it nor the TLS libraries it brings along. Only its header is compiled in; the
// functions the client calls are taken from the library by name, each typed by its declaration there.
struct MosquittoLibrary {
    static constexpr const char* kSoname = "libmosquitto.so.1";

    // The library of the process, opened and set up at the first call and kept until the process ends.
    // Null when it is missing or lacks a function: why goes to log, once for each call (a client that
    // starts later tries again, so a library installed meanwhile is found).
    [[nodiscard]] static const MosquittoLibrary* get(Log& log);
    // The library of that name, not set up; null after one log line when it is missing or lacks a function.
    [[nodiscard]] static std::unique_ptr<MosquittoLibrary> open(const std::string& soname, Log& log);

    std::unique_ptr<SharedLibrary> library;
    decltype(&::mosquitto_lib_init) libInit = nullptr;
    decltype(&::mosquitto_lib_cleanup) libCleanup = nullptr;
    decltype(&::mosquitto_strerror) strerror = nullptr;
    decltype(&::mosquitto_reason_string) reasonString = nullptr;
    decltype(&::mosquitto_new) create = nullptr;
    decltype(&::mosquitto_destroy) destroy = nullptr;
    decltype(&::mosquitto_connect_callback_set) connectCallbackSet = nullptr;
    decltype(&::mosquitto_disconnect_callback_set) disconnectCallbackSet = nullptr;
    decltype(&::mosquitto_message_callback_set) messageCallbackSet = nullptr;
    decltype(&::mosquitto_reconnect_delay_set) reconnectDelaySet = nullptr;
    decltype(&::mosquitto_int_option) intOption = nullptr;
    decltype(&::mosquitto_property_add_int32) propertyAddInt32 = nullptr;
    decltype(&::mosquitto_property_free_all) propertyFreeAll = nullptr;
    decltype(&::mosquitto_connect_bind_v5) connectBindV5 = nullptr;
    decltype(&::mosquitto_username_pw_set) usernamePwSet = nullptr;
    decltype(&::mosquitto_will_set) willSet = nullptr;
    decltype(&::mosquitto_connect_async) connectAsync = nullptr;
    decltype(&::mosquitto_loop_start) loopStart = nullptr;
    decltype(&::mosquitto_loop_stop) loopStop = nullptr;
    decltype(&::mosquitto_want_write) wantWrite = nullptr;
    decltype(&::mosquitto_disconnect) disconnect = nullptr;
    decltype(&::mosquitto_subscribe_multiple) subscribeMultiple = nullptr;
    decltype(&::mosquitto_unsubscribe_multiple) unsubscribeMultiple = nullptr;
    decltype(&::mosquitto_publish) publish = nullptr;
};

} // namespace glowcast
