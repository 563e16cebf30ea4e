#pragma once

#include <string_view>

namespace glowcast::sim {

// The page at "/": every lamp as a disc in the colour it gives off, refreshed from "/sim/state". A
// lamp that is off shows as a dark disc; one the bridge cannot reach is greyed out, whatever it was
// last sent.
inline constexpr std::string_view kLivePage = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Glowcast bridge simulator</title>
<style>
  body { background: #15161a; color: #e8e8ea; font: 15px/1.4 sans-serif; margin: 2em; }
  h1 { font-size: 1.3em; font-weight: 600; }
  #lamps { display: flex; flex-wrap: wrap; gap: 2em; margin-top: 1.5em; }
  .lamp { text-align: center; width: 9em; }
  .disc { width: 8em; height: 8em; border-radius: 50%; margin: 0 auto .6em; border: 2px solid #333;
          transition: background-color .4s, box-shadow .4s; }
  .off .disc { background: #1e1f24 !important; box-shadow: none !important; border-style: dashed; }
  .unreachable { opacity: .35; filter: grayscale(1); }
  .detail { color: #9a9aa2; font-size: .85em; }
  #status { color: #9a9aa2; }
</style>
</head>
<body>
<h1>Glowcast bridge simulator</h1>
<div id="status">connecting&hellip;</div>
<div id="lamps"></div>
<script>
"use strict";
function render(state) {
  const box = document.getElementById("lamps");
  box.replaceChildren();
  for (const lamp of state.lamps) {
    const item = document.createElement("div");
    item.className = "lamp" + (lamp.on ? "" : " off") + (lamp.reachable ? "" : " unreachable");
    const disc = document.createElement("div");
    disc.className = "disc";
    disc.style.backgroundColor = lamp.colour;
    disc.style.boxShadow = "0 0 3em " + lamp.colour;
    const name = document.createElement("div");
    name.textContent = lamp.id + ": " + lamp.name;
    const detail = document.createElement("div");
    detail.className = "detail";
    detail.textContent = (lamp.reachable ? "" : "unreachable, ") + (lamp.on ? "on" : "off") + ", " + lamp.kind +
      ", bri " + lamp.bri + ", xy " + lamp.xy.join(", ");
    item.append(disc, name, detail);
    box.append(item);
  }
  document.getElementById("status").textContent =
    "link button " + (state.linkbutton ? "pressed" : "not pressed") + " \u00b7 " + state.users + " paired user(s) \u00b7 " +
    state.requests + " request(s) received";
}
async function poll() {
  try {
    const reply = await fetch("/sim/state", {cache: "no-store"});
    render(await reply.json());
  } catch (error) {
    document.getElementById("status").textContent = "simulator not answering";
  }
  setTimeout(poll, 500);
}
poll();
</script>
</body>
</html>
)html";

} // namespace glowcast::sim
