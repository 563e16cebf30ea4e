#!/usr/bin/env python3
"""usage: bridge_client.py PATH/TO/glowcast-bridge-sim

A client of the bridge's public API written apart from Glowcast, using the simulator as another
program would use a real bridge: it discovers it through the portal, pairs, reads the configuration
and the lamps, and sets each lamp's state. Standard library only; loopback only."""
import json
import subprocess
import sys
import time
import urllib.request

# Straight to loopback, whatever proxy the environment names.
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def call(base, method, path, body=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(base + path, data=data, method=method)
    with opener.open(request, timeout=5) as reply:
        assert reply.headers.get_content_type() == "application/json", reply.headers
        return json.load(reply)


def run(base):
    bridge = "http://" + call(base, "GET", "/api/nupnp")[0]["internalipaddress"]
    config = call(bridge, "GET", "/api/config")
    assert len(config["bridgeid"]) == 16 and config["apiversion"].startswith("1."), config

    # Ask until the link button is pressed; the simulator presses it a second after the first ask.
    deadline = time.monotonic() + 10
    while True:
        answer = call(bridge, "POST", "/api", {"devicetype": "pyclient#loopback", "generateclientkey": True})[0]
        if "success" in answer:
            break
        assert answer["error"]["type"] == 101 and time.monotonic() < deadline, answer
        time.sleep(0.25)
    user = answer["success"]["username"]
    api = "/api/" + user
    assert call(bridge, "GET", api + "/config")["whitelist"][user]["name"] == "pyclient#loopback"

    lights = call(bridge, "GET", api + "/lights")
    assert sorted(lights) == ["1", "2", "3"], lights
    for lamp_id, lamp in lights.items():
        state = {"on": True, "bri": 200, "transitiontime": 4}
        if "colorgamut" in lamp["capabilities"]["control"]:
            state["xy"] = [0.3, 0.6]
        results = call(bridge, "PUT", f"{api}/lights/{lamp_id}/state", state)
        assert [list(r["success"])[0] for r in results] == [f"/lights/{lamp_id}/state/{key}" for key in state], results

    lights = call(bridge, "GET", api + "/lights")
    assert lights["1"]["state"]["xy"] == [0.3, 0.6] and lights["1"]["state"]["colormode"] == "xy", lights["1"]
    assert lights["2"]["state"]["xy"] != [0.3, 0.6], "a green outside gamut B is held at its edge"
    assert lights["3"]["state"]["bri"] == 200 and "xy" not in lights["3"]["state"], lights["3"]


def main():
    sim = subprocess.Popen([sys.argv[1], "--port", "0", "--press-after", "1", "--lamps", "extended,colour-b,dimmable"],
                           stdout=subprocess.PIPE, text=True)
    try:
        line = sim.stdout.readline()
        assert line.startswith("listening on 127.0.0.1:"), line
        run("http://" + line.removeprefix("listening on ").strip())
    finally:
        sim.terminate()
        sim.wait(timeout=10)
    print("bridge_client.py: discovered, paired, read and set every lamp")


if __name__ == "__main__":
    main()
