#!/usr/bin/python3
"""browse_page_test.py - the page of tdfbatch --index in a real browser.

Debian's chromium, headless, driven by python3-selenium through
chromium-driver, opens DST/index.html from the file system for an archive
of 60 files made by the writer (58 datasets, 3 of them damaged) and checks:
a card per dataset; a satellite filter and a date range leave the right
cards; a damaged dataset's card shows its message; a click opens the full
GIF; nothing is requested from outside the file system.  A screenshot of
the page is left in the output folder.

Usage: browse_page_test.py TDFBATCH TDFTOGIF MAKE_ARCHIVE OUTPUT_FOLDER
"""
import datetime
import json
import os
import subprocess
import sys
import tempfile
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

TDFBATCH, TDFTOGIF, MAKE_ARCHIVE, OUTPUT = sys.argv[1:5]


def browser(profile):
    options = Options()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1280,1000", "--user-data-dir=" + profile):
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class BrowsePage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        work = cls.scratch.name
        listing = subprocess.run([MAKE_ARCHIVE, "data", "spare"], cwd=work, check=True,
                                 capture_output=True, text=True).stdout
        cls.files = [line.split("\t") for line in listing.splitlines()]
        run = subprocess.run([TDFBATCH, "-q", "--tdftogif", TDFTOGIF, "--index", "--report", "report.json",
                              "data", "out"], cwd=work, capture_output=True, text=True)
        assert run.returncode == 1, run.stderr
        with open(os.path.join(work, "report.json"), encoding="utf-8") as report:
            cls.report = {json.loads(line)["path"]: json.loads(line) for line in report}
        cls.page = "file://" + os.path.join(work, "out", "index.html")
        cls.driver = browser(os.path.join(work, "profile"))
        cls.driver.get(cls.page)
        cls.wait_ready()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.scratch.cleanup()

    @classmethod
    def wait_ready(cls):
        WebDriverWait(cls.driver, 20).until(
            lambda d: d.execute_script("return document.documentElement.getAttribute('data-ready')"))

    def cards(self):
        """The data paths of the cards of every page, turning the pages."""
        d = self.driver
        paths = []
        while True:
            for card in d.find_elements(By.CSS_SELECTOR, "#cards article"):
                folder = card.find_elements(By.CSS_SELECTOR, ".folder")
                name = card.find_element(By.CSS_SELECTOR, "h2").text
                paths.append("data/" + (folder[0].text + "/" if folder else "") + name)
            following = d.find_element(By.ID, "next")
            if not following.is_enabled():
                break
            following.click()
        return paths

    def reset(self):
        self.driver.find_element(By.ID, "clear").click()

    def test_a_card_per_dataset(self):
        self.reset()
        datasets = sorted(f[0] for f in self.files if f[4] != "other")
        self.assertEqual(len(datasets), 58)
        self.assertEqual(sorted(self.cards()), datasets)

    def test_satellite_and_date_range(self):
        self.reset()
        d = self.driver
        Select(d.find_element(By.ID, "satellite")).select_by_value("hesk-14")
        for field, value in (("from", "2023-12-31"), ("to", "2024-03-01")):
            d.execute_script("var e = document.getElementById(arguments[0]); e.value = arguments[1];"
                             "e.dispatchEvent(new Event('change'));", field, value)

        def day(date):
            return datetime.date(int(date) // 1000, 1, 1) + datetime.timedelta(int(date) % 1000 - 1)
        expected = sorted(f[0] for f in self.files if f[1] == "hesk-14" and f[3] != "-"
                          and datetime.date(2023, 12, 31) <= day(f[3]) <= datetime.date(2024, 3, 1))
        self.assertGreater(len(expected), 5)
        self.assertEqual(sorted(self.cards()), expected)
        # The filters stay in the address: a reload keeps them.
        d.refresh()
        self.wait_ready()
        self.assertEqual(Select(d.find_element(By.ID, "satellite")).first_selected_option.get_attribute("value"),
                         "hesk-14")
        self.assertEqual(sorted(self.cards()), expected)

    def test_damaged_dataset_shows_its_message(self):
        self.reset()
        damaged = [f[0] for f in self.files if f[4] == "damaged"]
        self.assertEqual(len(damaged), 3)
        d = self.driver
        for path in damaged:
            search = d.find_element(By.ID, "search")
            search.clear()
            search.send_keys(os.path.basename(path))
            cards = d.find_elements(By.CSS_SELECTOR, "#cards article")
            self.assertEqual(len(cards), 1, path)
            self.assertIn("failed", cards[0].get_attribute("class"))
            self.assertEqual(cards[0].find_element(By.CSS_SELECTOR, ".message").text,
                             self.report[path]["message"])

    def test_click_opens_the_full_gif(self):
        self.reset()
        d = self.driver
        d.find_element(By.ID, "search").send_keys("pass 12")
        link = d.find_element(By.CSS_SELECTOR, "#cards article a.shot")
        WebDriverWait(d, 10).until(lambda _: d.execute_script(
            "return document.querySelector('#cards article img').naturalWidth > 0"))
        link.click()
        self.assertTrue(d.current_url.endswith("/out/hesk-14/2024/060/pass%2012.gif"), d.current_url)
        self.assertGreater(d.execute_script("return document.images[0].naturalWidth"), 0)
        d.back()
        self.wait_ready()

    def test_nothing_leaves_the_file_system(self):
        d = self.driver
        d.get_log("performance")
        d.get(self.page)
        self.wait_ready()
        # Every image of the first page loads, from a file: URL.
        d.execute_script("document.querySelectorAll('#cards img').forEach(function (i) { i.loading = 'eager'; })")
        WebDriverWait(d, 20).until(lambda _: d.execute_script(
            "return Array.from(document.querySelectorAll('#cards img')).every(i => i.complete && i.naturalWidth > 0)"))
        events = [json.loads(entry["message"])["message"] for entry in d.get_log("performance")]
        urls = [e["params"]["request"]["url"] for e in events if e["method"] == "Network.requestWillBeSent"
                and e["params"].get("documentURL", "").startswith("file:")]
        self.assertGreater(len(urls), 40)
        # data: URLs stay in the browser (its date fields draw their icon with one).
        self.assertEqual([u for u in urls if not u.startswith(("file:", "data:"))], [])
        # The page's policy refuses anything else, an address on this machine included.
        policy = d.find_element(By.CSS_SELECTOR, "meta[http-equiv='Content-Security-Policy']")
        self.assertIn("default-src 'none'", policy.get_attribute("content"))
        refused = d.execute_async_script(
            "var done = arguments[0];"
            "document.addEventListener('securitypolicyviolation', function (e) { done(e.blockedURI); });"
            "var i = document.createElement('img'); i.src = 'http://127.0.0.1:9/probe.gif';"
            "document.body.appendChild(i);")
        self.assertEqual(refused, "http://127.0.0.1:9/probe.gif")
        errors = [e for e in d.get_log("browser") if e["level"] == "SEVERE" and "127.0.0.1:9" not in e["message"]]
        self.assertEqual(errors, [])
        os.makedirs(OUTPUT, exist_ok=True)
        d.save_screenshot(os.path.join(OUTPUT, "browse_page.png"))

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
