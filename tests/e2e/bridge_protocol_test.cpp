// The simulator speaks version 1 of the bridge's local API: one table of requests and the replies
// expected per area, each against a simulator process of its own.

#include "support/processes.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace glowcast::testing {
namespace {

struct Exchange {
    const char* method;
    std::string path;
    std::string body;
    // What the reply must hold: objects may have more members, but a null stands for a member that
    // must be absent; lists match item by item; a text "~PATTERN" matches texts that PATTERN matches whole.
    std::string reply;
    int status = 200;
    int waitMs = 0; // before the request
};

bool matches(const QJsonValue& expected, const QJsonValue& actual)
{
    if (expected.isObject()) {
        const QJsonObject want = expected.toObject();
        const QJsonObject have = actual.toObject();
        for (auto member = want.begin(); member != want.end(); ++member)
            if (member.value().isNull() ? have.contains(member.key()) : !matches(member.value(), have[member.key()]))
                return false;
        return actual.isObject();
    }
    if (expected.isArray()) {
        const QJsonArray want = expected.toArray();
        const QJsonArray have = actual.toArray();
        bool same = actual.isArray() && want.size() == have.size();
        for (qsizetype i = 0; same && i < want.size(); ++i)
            same = matches(want[i], have[i]);
        return same;
    }
    const QString text = expected.toString();
    if (text.startsWith(u'~'))
        return QRegularExpression(QRegularExpression::anchoredPattern(text.mid(1))).match(actual.toString()).hasMatch();
    return expected == actual;
}

QJsonValue parsed(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString("[" + text + "]")).array().at(0);
}

// Starts the simulator with the options given, sends each request in turn as another client of the
// bridge would, and checks each reply.
void run(const char* options, const std::vector<Exchange>& table)
{
    Simulator sim{QString::fromLatin1(options).split(u' ', Qt::SkipEmptyParts)};
    ASSERT_FALSE(sim.address.empty()) << "the simulator did not start";
    QNetworkAccessManager manager;
    for (const Exchange& row : table) {
        SCOPED_TRACE(std::string(row.method) + " " + row.path + " " + row.body);
        QThread::msleep(static_cast<unsigned long>(row.waitMs));
        QNetworkRequest request(QUrl(QString::fromStdString("http://" + sim.address + row.path)));
        request.setTransferTimeout(5000);
        QNetworkReply* reply = manager.sendCustomRequest(request, row.method, QByteArray::fromStdString(row.body));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        const std::string body = reply->readAll().toStdString();
        EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), row.status);
        EXPECT_EQ(reply->header(QNetworkRequest::ContentTypeHeader).toString(), QStringLiteral("application/json"));
        if (row.status == 429)
            EXPECT_EQ(reply->rawHeader("Retry-After"), "1");
        else
            EXPECT_TRUE(matches(parsed(row.reply), parsed(body))) << body;
    }
}

TEST(BridgeProtocolTest, PairsOnlyWhileTheLinkButtonIsPressed)
{
    run("",
        {
            {"POST", "/api", R"({"devicetype":"demo#one","generateclientkey":true})", R"([{"error":{"type":101}}])"},
            {"POST", "/api", "{}", R"([{"error":{"type":5,"address":"/"}}])"},
            {"POST", "/api", R"({"devicetype":")" + std::string(41, 'd') + R"("})",
             R"([{"error":{"type":7,"address":"/devicetype"}}])"},
            {"POST", "/sim/linkbutton", "", R"({"pressed":true})"},
            {"POST", "/api", R"({"devicetype":"demo#one","note":"more members are let be"})",
             R"([{"success":{"username":"~[0-9a-f]{32}","clientkey":null}}])"},
            {"POST", "/api/", R"({"devicetype":"demo#two","generateclientkey":true})",
             R"([{"success":{"username":"~[0-9a-f]{32}","clientkey":"~[0-9A-F]{32}"}}])"},
            {"GET", "/api/config", "", R"({"linkbutton":null,"whitelist":null})"},
        });
}

// The configuration and the lamp list as a client reads them are bridge_client.py's to check.
TEST(BridgeProtocolTest, GroupsActOnTheirLamps)
{
    run("--user alice --lamps extended,colour-a,colour-b,temperature",
        {
            {"PUT", "/api/alice/lights/1", R"({"name":"Desk"})", R"([{"success":{"/lights/1/name":"Desk"}}])"},
            {"PUT", "/api/alice/lights/1", R"({"name":")" + std::string(33, 'n') + R"("})",
             R"([{"error":{"type":7,"address":"/lights/1/name"}}])"},
            {"GET", "/api/alice/groups", "",
             R"({"1":{"name":"Room 1","type":"Room","class":"Living room","lights":["1","2","3","4"],)"
             R"("state":{"all_on":true,"any_on":true}}})"},
            {"GET", "/api/alice/groups/0", "", R"({"name":"Group 0","type":"LightGroup","lights":["1","2","3","4"]})"},
            {"PUT", "/api/alice/groups/1/action", R"({"on":false})", R"([{"success":{"/groups/1/action/on":false}}])"},
            {"GET", "/api/alice/groups/0", "", R"({"state":{"all_on":false,"any_on":false}})"},
            {"PUT", "/api/alice/groups/0/action", R"({"ct":250,"on":true})",
             R"([{"success":{"/groups/0/action/ct":250}},{"success":{"/groups/0/action/on":true}}])"},
            {"GET", "/api/alice/lights/4", "", R"({"state":{"on":true,"ct":250}})"},
            {"GET", "/api/alice/lights/2", "", R"({"state":{"on":true,"colormode":"xy"}})"},
            {"DELETE", "/api/alice/lights/4", "", R"([{"success":"/lights/4 deleted"}])"},
        });
}

TEST(BridgeProtocolTest, LampsHoldValuesAsARealLampDoes)
{
    run("--user alice --lamps extended,colour-b,temperature,dimmable",
        {
            {"PUT", "/api/alice/lights/1/state", R"({"on":false})", R"([{"success":{"/lights/1/state/on":false}}])"},
            {"PUT", "/api/alice/lights/1/state", R"({"bri":100,"xy":[0.3,0.3]})",
             R"([{"error":{"type":201,"address":"/lights/1/state/bri"}},{"error":{"type":201}}])"},
            {"PUT", "/api/alice/lights/1/state", R"({"bri":255,"sat":255,"on":true})",
             R"([{"success":{"/lights/1/state/bri":254}},{"success":{"/lights/1/state/sat":254}},)"
             R"({"success":{"/lights/1/state/on":true}}])"},
            {"PUT", "/api/alice/lights/1/state", R"({"bri":0,"xy":[0.8,0.2]})",
             R"([{"success":{"/lights/1/state/bri":1}},{"success":{"/lights/1/state/xy":[0.6915,0.3038]}}])"},
            {"PUT", "/api/alice/lights/2/state", R"({"xy":[0.6,0.5]})",
             R"([{"success":{"/lights/2/state/xy":[0.5414,0.4205]}}])"},
            {"PUT", "/api/alice/lights/2/state", R"({"xy":[0.4,0.4],"hue":65535,"ct":300})",
             R"([{"success":{"/lights/2/state/xy":[0.4,0.4]}},{"success":{"/lights/2/state/hue":65535}},)"
             R"({"error":{"type":6,"address":"/lights/2/state/ct"}}])"},
            {"GET", "/api/alice/lights/2", "", R"({"state":{"colormode":"hs","hue":65535}})"},
            {"PUT", "/api/alice/lights/1/state", R"({"hue":1000,"ct":200})", R"([{"success":{}},{"success":{}}])"},
            {"GET", "/api/alice/lights/1", "", R"({"state":{"colormode":"ct","ct":200,"hue":1000}})"},
            {"PUT", "/api/alice/lights/3/state", R"({"xy":[0.3,0.3],"ct":455,"bri_inc":-300})",
             R"([{"error":{"type":6,"address":"/lights/3/state/xy"}},{"error":{"type":7}},{"error":{"type":7}}])"},
            {"PUT", "/api/alice/lights/3/state", R"({"ct":454})", R"([{"success":{"/lights/3/state/ct":454}}])"},
            {"PUT", "/api/alice/lights/4/state", R"({"ct":300,"hue":1,"bri_inc":-53,"alert":"select"})",
             R"([{"error":{"type":6}},{"error":{"type":6}},{"success":{"/lights/4/state/bri_inc":201}},)"
             R"({"success":{"/lights/4/state/alert":"select"}}])"},
            {"PUT", "/api/alice/lights/1/state",
             R"({"hue":65536,"sat":-1,"transitiontime":65536,"xy":[1.2,0.3],"effect":"blink","bri":1.5})",
             R"([{"error":{"type":7}},{"error":{"type":7}},{"error":{"type":7}},)"
             R"({"error":{"type":7,"description":"invalid value, [1.2,0.3], for parameter, xy"}},)"
             R"({"error":{"type":7,"description":"invalid value, blink, for parameter, effect"}},{"error":{"type":7}}])"},
            {"POST", "/sim/lamps/1", R"({"reachable":false})", R"({"state":{"reachable":false}})"},
            {"PUT", "/api/alice/lights/1/state", R"({"bri":50})", R"([{"success":{"/lights/1/state/bri":50}}])"},
            {"GET", "/sim/state", "", R"({"lamps":[{"reachable":false,"bri":50},{"reachable":true},{},{}]})"},
        });
}

TEST(BridgeProtocolTest, ErrorsCarryTheProtocolsTypesAndTexts)
{
    const auto error = [](int type, const std::string& address, const std::string& description) {
        return R"([{"error":{"type":)" + std::to_string(type) + R"(,"address":")" + address + R"(","description":")" +
               description + R"("}}])";
    };
    const std::string state = "/api/alice/lights/1/state";
    run("--user alice",
        {
            {"GET", "/api/mallory/lights", "", error(1, "/lights", "unauthorized user")},
            {"PUT", state, "{\"bri\":", error(2, "/lights/1/state", "body contains invalid json")},
            {"GET", "/api/alice/lights/9", "", error(3, "/lights/9", "resource, /lights/9, not available")},
            {"GET", "/api/alice/things", "", error(3, "/things", "resource, /things, not available")},
            {"PATCH", "/api/alice/lights", "{}",
             error(4, "/lights", "method, PATCH, not available for resource, /lights")},
            {"PUT", state, "{}", error(5, "/lights/1/state", "invalid/missing parameters in body")},
            {"PUT", state, R"({"foo":1})", error(6, "/lights/1/state/foo", "parameter, foo, not available")},
            {"PUT", state, R"({"bri":300})", error(7, "/lights/1/state/bri", "invalid value, 300, for parameter, bri")},
            {"POST", "/api", R"({"devicetype":"demo#one"})", error(101, "", "link button not pressed")},
            {"PUT", state, R"({"on":false})", R"([{"success":{"/lights/1/state/on":false}}])"},
            {"PUT", state, R"({"bri":1})",
             error(201, "/lights/1/state/bri", "parameter, bri, is not modifiable. Device is set to off.")},
        });
}

TEST(BridgeProtocolTest, TooManyLampCommandsASecondAreTurnedAwayForASecond)
{
    run("--user alice --rate-limit 2", {
                                           {"PUT", "/api/alice/lights/1/state", R"({"on":true})", "[{}]"},
                                           {"PUT", "/api/alice/groups/0/action", R"({"on":true})", "[{}]"},
                                           {"PUT", "/api/alice/lights/2/state", R"({"on":true})", "", 429},
                                           {"GET", "/api/alice/lights", "", "{}"}, // reading is not a lamp command
                                           {"PUT", "/api/alice/lights/2/state", R"({"bri":9})",
                                            R"([{"success":{"/lights/2/state/bri":9}}])", 200, 1100},
                                       });
}

} // namespace
} // namespace glowcast::testing
