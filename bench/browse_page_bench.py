#!/usr/bin/python3
"""The browse page of tdfbatch at scale, in headless Chromium.

    browse_page_bench.py PAGE [REPS]

Opens PAGE (an index.html written by tdfbatch --index) from the file
system REPS times and measures, in the page's own clock: load, from the
start of the navigation to the first page of cards built (the first load
also on its own, with nothing cached);
each filter (a text search, a satellite, a date range, all of them
cleared), from the change to the next frame painted; and turning a page.
Prints the medians.
"""
import os
import statistics
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

# Runs one change in the page and reports the time until the next paint.
TIMED = """
var done = arguments[arguments.length - 1];
var t0 = performance.now();
(function () { %s })();
requestAnimationFrame(function () { setTimeout(function () { done(performance.now() - t0); }, 0); });
"""
SET = ("var e = document.getElementById('%s'); e.value = '%s';"
       "e.dispatchEvent(new Event('%s'));")
STEPS = [
    ("search 'pass-1'", SET % ("search", "pass-1", "input")),
    ("satellite", SET % ("satellite", "hesk-15", "change")),
    ("date range", SET % ("from", "2024-01-01", "change") + SET % ("to", "2024-02-29", "change")),
    ("next page", "document.getElementById('next').click();"),
    ("clear all", "document.getElementById('clear').click();"),
]


def main():
    page = os.path.abspath(sys.argv[1])
    reps = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    options = Options()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1280,1000", "--user-data-dir=" + tempfile.mkdtemp(prefix="tdf-page-bench.")):
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    times = {"load": []}
    try:
        for _ in range(reps):
            driver.get("about:blank")
            driver.get("file://" + page)
            ready = WebDriverWait(driver, 60).until(
                lambda d: d.execute_script("return document.documentElement.getAttribute('data-ready')"))
            times["load"].append(float(ready))
            cards = driver.execute_script("return document.getElementById('status').getAttribute('data-matching')")
            for name, script in STEPS:
                times.setdefault(name, []).append(driver.execute_async_script(TIMED % script))
    finally:
        driver.quit()
    print("The page of %s cards in headless Chromium, %d loads, median times:" % (cards, reps))
    print()
    print("| step | median (ms) |")
    print("|---|---|")
    print("| first load (nothing cached) | %.0f |" % times["load"][0])
    for name, values in times.items():
        print("| %s | %.0f |" % (name, statistics.median(values)))
    total = statistics.median(times["load"]) + sum(statistics.median(times[n]) for n, _ in STEPS[:3])
    print("| load, then search, satellite and date range | %.0f |" % total)


if __name__ == "__main__":
    main()
