#!/usr/bin/env bash
# koru-cli's HTML report of a known set of records in headless Chromium: a script added to a
# copy of the page counts, from the DOM as the browser built it, each chart's bars, those drawn
# with a size, those with a tooltip, and the script and image elements (a record's markup must
# stay text); --dump-dom brings its answer back. Then a screenshot of the page itself is kept.
# Nothing leaves the machine: file:// pages, and every host name resolves to nothing.
#   report_page_test.sh KORU_CLI RECORDS OUT_FOLDER
set -uo pipefail

cli=$1
records=$2
out=$3

browser=$(command -v chromium || true)
if [ -z "$browser" ]; then
    echo "SKIPPED: chromium is not installed (Debian package chromium; scripts/test installs it)"
    exit 77
fi

rm -rf "$out"
mkdir -p "$out"
if ! timeout 30 "$cli" report --html "$out/report.html" "$records" >"$out/report.txt" 2>"$out/report.err"; then
    echo "FAIL: koru-cli report --html exited with $?"
    cat "$out/report.err"
    exit 1
fi

# As root Chromium runs only without its sandbox; a profile of its own keeps $HOME untouched.
chromium_run() {
    timeout 60 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
        --no-default-browser-check --disable-background-networking --disable-component-update \
        --disable-sync --host-resolver-rules="MAP * ~NOTFOUND" --user-data-dir="$out/profile" \
        --hide-scrollbars "$@" 2>>"$out/chromium.err"
}

# The probe is a script file of its own beside a copy of the page, so that nothing in it needs
# escaping for the page. It goes first into the page's head: were a record's markup to become an
# element that calls alert(), the alert would hold the headless browser until its time-out, so
# alert is made harmless before anything else; the counting runs once the page is built.
cat >"$out/probe.js" <<'PROBE'
window.alert = function () {};
document.addEventListener("DOMContentLoaded", function () {
  const parts = [];
  let drawn = 0, titled = 0, all = 0;
  for (const name of ["hourly", "yield-port", "yield-pc", "pareto", "times"]) {
    const svg = document.querySelector('svg[data-chart="' + name + '"]');
    const bars = svg ? svg.querySelectorAll(".bar") : [];
    parts.push(name + "=" + (svg ? bars.length : "missing"));
    for (const bar of bars) {
      all++;
      const box = bar.getBBox();
      const view = svg.viewBox.baseVal;
      if (box.width > 0 && box.height > 0 && box.x >= 0 && box.y >= 0 &&
          box.x + box.width <= view.width + 0.5 && box.y + box.height <= view.height + 0.5) {
        drawn++;
      }
      const title = bar.querySelector(":scope > title");
      if (title && /[0-9]/.test(title.textContent)) {
        titled++;
      }
    }
  }
  parts.push("drawn=" + drawn + "/" + all, "titled=" + titled + "/" + all);
  // The page has no script of its own: the one here is the probe.
  parts.push("scripts=" + document.querySelectorAll("script").length);
  parts.push("images=" + document.querySelectorAll("img").length);
  const text = document.body.textContent;
  parts.push("markup-as-text=" + (text.includes('<script>alert("x")</' + 'script>') &&
                                  text.includes("<img src=x onerror=alert(1)>")));
  const answer = document.createElement("pre");
  answer.id = "probe";
  answer.textContent = parts.join(" ");
  document.body.appendChild(answer);
});
PROBE
page=$(cat "$out/report.html")
printf '%s\n' "${page/<head>/<head><script src=\"probe.js\"></script>}" >"$out/probe.html"

chromium_run --dump-dom "file://$out/probe.html" >"$out/probe-dom.html"
answer=$(sed -n 's:.*<pre id="probe">\(.*\)</pre>.*:\1:p' "$out/probe-dom.html")
# The known records: bars in hours 08, 09 and 11 (10 has none); four ports (pc-a COM1 and
# COM2, pc-b COM1 and one named with markup); two PCs; chip failures at three steps; five
# filled time bins over the three ports with passed chips.
expected="hourly=3 yield-port=4 yield-pc=2 pareto=3 times=5 drawn=17/17 titled=17/17 scripts=1 images=0 markup-as-text=true"
failures=0
if [ "$answer" != "$expected" ]; then
    echo "FAIL: the browser found: ${answer:-nothing (see $out/chromium.err)}"
    echo "      expected:          $expected"
    failures=1
fi

chromium_run --window-size=1100,2400 --screenshot="$out/report.png" "file://$out/report.html" >/dev/null
if [ ! -s "$out/report.png" ]; then
    echo "FAIL: no screenshot (see $out/chromium.err)"
    failures=1
fi
[ "$failures" -eq 0 ] && echo "the browser drew every chart with its bars; screenshot: $out/report.png"
exit "$failures"
