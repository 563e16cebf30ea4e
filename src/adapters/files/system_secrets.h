#pragma once

#include "core/ports/log.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// A lamp system's password (a broker's) lives apart from the preferences, in
// "<configuration directory>/systems/<system id>.password": mode 0600 in a folder of mode 0700. It is
// never logged, printed or sent over the bus; only the system's id travels. Writers hold the
// configuration directory's lock (FilePreferences::whileLocked) so a password and the system record
// that needs it appear together.
[[nodiscard]] std::filesystem::path systemPasswordPath(const std::filesystem::path& configDirectory,
                                                       std::string_view systemId);

// The password of the broker Glowcast publishes on (the "mqtt" setting) lives there too, under a name no
// system's id can take (an id holds no '.').
inline constexpr std::string_view kMqttSecretId = "mqtt.publish";

// A Home Assistant system's access token lives beside it, as "systems/<system id>.token", kept and read
// by the same rules.
[[nodiscard]] std::filesystem::path systemTokenPath(const std::filesystem::path& configDirectory,
                                                    std::string_view systemId);

// A Home Assistant system's pinned CA certificate (glowcastctl --ca-file), copied as "systems/<system
// id>.ca.pem" by the same rules.
[[nodiscard]] std::filesystem::path systemCaPath(const std::filesystem::path& configDirectory,
                                                 std::string_view systemId);
[[nodiscard]] std::optional<std::string> storeSystemCa(const std::filesystem::path& configDirectory,
                                                       std::string_view systemId, std::string_view pem);

// A password file as the user gives it (glowcastctl --password-file, the window's dialog) or as it is
// stored: at most 4 KiB, one trailing newline ("\n" or "\r\n") trimmed, no NUL byte, not empty.
inline constexpr std::size_t kLongestPasswordFile = 4096;
struct PasswordRead {
    std::optional<std::string> password;
    std::string error; // why there is none, for people; never the password
};
[[nodiscard]] PasswordRead readPasswordFile(const std::filesystem::path& file);

// Writes the system's password atomically (a temporary file renamed over the old one), mode 0600 from
// its first byte. Nothing when it was stored, else why not.
[[nodiscard]] std::optional<std::string> storeSystemPassword(const std::filesystem::path& configDirectory,
                                                             std::string_view systemId, std::string_view password);

// The system's stored password; nothing without a file (a broker without a password). A file that is
// there but cannot be read is logged (its path and why, never its bytes) and reads as none.
[[nodiscard]] std::optional<std::string> systemPassword(const std::filesystem::path& configDirectory,
                                                        std::string_view systemId, Log& log);

// The same for an access token.
[[nodiscard]] std::optional<std::string> storeSystemToken(const std::filesystem::path& configDirectory,
                                                          std::string_view systemId, std::string_view token);
[[nodiscard]] std::optional<std::string> systemToken(const std::filesystem::path& configDirectory,
                                                     std::string_view systemId, Log& log);

// A new system's secrets, written before the running Glowcast gives the system its id: glowcastctl
// stages them as "systems/.new-<tag>.password" (".token", ".ca.pem"), by the rules above, and only the
// tag travels over the bus. The program gives them the id it picks with a rename, under the
// configuration directory's lock, as it stores the system; two additions at once each keep their own.
struct SystemSecretFiles {
    std::optional<std::string> password;
    std::optional<std::string> token;
    std::optional<std::string> ca;
};
struct StagedSecrets {
    std::string tag;                  // random, lowercase hexadecimal
    std::optional<std::string> error; // why nothing was staged (then no file is left)
};
[[nodiscard]] StagedSecrets stageSystemSecrets(const std::filesystem::path& configDirectory,
                                               const SystemSecretFiles& secrets);
// Moves the staged set to the system's files. Nothing when done, else why not, with nothing moved: a
// tag that is not one or names no file, a staged name that is not a regular file.
[[nodiscard]] std::optional<std::string> adoptStagedSecrets(const std::filesystem::path& configDirectory,
                                                            std::string_view tag, std::string_view systemId);
// Removes what is left of a staged set: the files its stager wrote and the program did not take.
void discardStagedSecrets(const std::filesystem::path& configDirectory, std::string_view tag);

// Removes the system's password, token and CA files, if it has them: a removed system leaves no secret behind.
void forgetSystemPassword(const std::filesystem::path& configDirectory, std::string_view systemId);

} // namespace glowcast
