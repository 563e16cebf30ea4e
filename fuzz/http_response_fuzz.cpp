// Feeds the art fetcher's answer reader what a server may send, cut into pieces where the input says,
// and checks what must always hold: no crash, no hang, nothing held past the caps, the same result
// however the bytes arrive, an end once the connection closes, and a refusal that says why. A redirect
// to what the input names is resolved and read as a request.
#include "core/http/http_response_reader.h"
#include "core/http/http_url.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    using State = HttpResponseReader::State;
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 16;
    const std::string_view answer = fuzz::textOf(data + 1, size - 1);
    const HttpResponseLimits limits{512, 12, 1024};
    HttpResponseReader whole{limits};
    HttpResponseReader cut{limits};
    whole.take(answer);
    for (std::size_t at = 0; at < answer.size(); at += piece)
        cut.take(answer.substr(at, piece));
    fuzz::require(whole.state() == cut.state() && whole.status() == cut.status() && whole.refusal() == cut.refusal());
    fuzz::require(whole.closed() != State::Reading && cut.closed() == whole.state());
    fuzz::require((whole.state() == State::Refused) == !whole.refusal().empty());
    const std::vector<std::uint8_t> body = whole.takeBody();
    fuzz::require(body.size() <= limits.maximumBodyBytes && body == cut.takeBody());
    const RedirectStep step = redirectStep("https://cover.example/a/b?c", whole.location());
    fuzz::require(step.url.empty() != step.refusal.empty());
    fuzz::require(step.url.empty() || step.url.starts_with("https:"));
    const HttpUrlReading reading = readHttpUrl(step.url.empty() ? answer : std::string_view{step.url});
    fuzz::require(!reading.url || reading.url->head.find("\r\n\r\n") + 4 == reading.url->head.size());
    return 0;
}
