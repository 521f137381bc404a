#!/usr/bin/env python3
"""The look-dev page in a real browser: headless Chromium driven by Selenium.

Opens the page that `umbrex-render --serve` prints (with its token), moves the
spread slider with the keyboard, waits for the refined image, saves it, and
compares it byte for byte with what the command line renders from the page's
copied command. Then a page served from another port of the loopback address
tries to make the server render, with an image and a fetch: both are refused
with 403, and the server renders nothing for them. With --screenshot PATH it
also saves a picture of the page.

    look_dev_page_test.py UMBREX_RENDER [--screenshot PATH]
"""
import base64
import http.server
import json
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import threading
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def start_server(program):
    server = subprocess.Popen([program, "--serve", "--port", "0", "--width", "320", "--height", "180"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = server.stdout.readline()
    if "http://" not in line:
        fail("the server printed no address: " + line)
    return server, line[line.index("http://"):].split()[0]


def browser():
    options = Options()
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1280,800"):
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="umbrex-chromium-"))
    options.binary_location = "/usr/bin/chromium"
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def wait_for_final(driver, previous_src):
    WebDriverWait(driver, 30).until(
        lambda d: d.find_element(By.ID, "view").get_attribute("data-state") == "final"
        and d.find_element(By.ID, "view").get_attribute("src") != previous_src)
    return driver.find_element(By.ID, "view").get_attribute("src")


def saved_png(driver):
    """The bytes the page's Save PNG saves, as the page itself gets them."""
    encoded = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        saved('png').then(blob => blob.arrayBuffer()).then(b => {
            let s = ''; new Uint8Array(b).forEach(c => s += String.fromCharCode(c)); done(btoa(s)); });
    """)
    return base64.b64decode(encoded)


def renders_started(url):
    """How many renders the server has started, asked with the page's token."""
    base, token = url.split("/?token=")
    request = urllib.request.Request(base + "/status", headers={"X-Umbrex-Token": token})
    with urllib.request.urlopen(request) as answer:
        return json.load(answer)["renders"]


def foreign_page(target):
    """Serves, on another port of the loopback address, a page that asks the
    server at `target` for renders with an image and a fetch; its address."""
    base = target.split("/?token=")[0]
    page = ("<!doctype html><title>other</title>"
            "<img id=image src='%s/render?tab=foreign&level=coarse'>"
            "<script>"
            "const image = new Promise(done => { const i = document.getElementById('image');"
            " i.onload = i.onerror = done; });"
            "const fetched = fetch('%s/render?tab=foreign2&level=coarse', {mode: 'no-cors'}).catch(() => null);"
            "Promise.all([image, fetched]).then(() => { document.title = 'done'; });"
            "</script>" % (base, base)).encode()

    class Page(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(page)

        def log_message(self, *arguments):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return "http://127.0.0.1:%d/" % server.server_address[1]


def statuses(driver, prefix):
    """The HTTP status of every response the browser received from `prefix`,
    including those it then withheld from the page."""
    urls, found = {}, []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        parameters = message["params"]
        if message["method"] == "Network.requestWillBeSent":
            urls[parameters["requestId"]] = parameters["request"]["url"]
        elif message["method"] == "Network.responseReceivedExtraInfo":
            found.append((parameters["requestId"], parameters["statusCode"]))
    return [status for request, status in found if urls.get(request, "").startswith(prefix)]


def main():
    program = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    server, url = start_server(program)
    driver = browser()
    try:
        driver.get(url)
        first = wait_for_final(driver, None)
        if driver.find_element(By.ID, "mode").text != "occlusion":
            fail("the mode readout says " + driver.find_element(By.ID, "mode").text)

        spread = driver.find_element(By.CSS_SELECTOR, '.parameter[data-name="spread"] input[type=range]')
        spread.click()
        for _ in range(40):
            spread.send_keys(Keys.LEFT)
        refined = wait_for_final(driver, first)
        value = driver.find_element(By.CSS_SELECTOR, '.parameter[data-name="spread"] input[type=number]')
        if float(value.get_attribute("value")) >= 90:
            fail("the slider did not move: spread " + value.get_attribute("value"))
        if refined == first:
            fail("the image did not change")
        if "samples" not in driver.find_element(By.ID, "samples").text:
            fail("no samples readout")

        command = driver.find_element(By.ID, "command").get_attribute("value")
        if "--set spread=" not in command:
            fail("the copied command does not set spread: " + command)
        page_png = saved_png(driver)
        if screenshot:
            driver.save_screenshot(screenshot)

        # Another page of this machine cannot drive the server.
        before = renders_started(url)
        driver.get_log("performance")
        driver.get(foreign_page(url))
        WebDriverWait(driver, 30).until(lambda d: d.title == "done")
        refused = statuses(driver, url.split("/?token=")[0] + "/render")
        if sorted(refused) != [403, 403]:
            fail("the other page's image and fetch got %s, not 403 and 403" % refused)
        if renders_started(url) != before:
            fail("the server rendered for another page")
    finally:
        driver.quit()

    with tempfile.TemporaryDirectory() as folder:
        words = shlex.split(command)
        words[words.index("--output") + 1] = os.path.join(folder, "cli.png")
        subprocess.run(words, check=True, capture_output=True)
        with open(os.path.join(folder, "cli.png"), "rb") as file:
            cli_png = file.read()
    if page_png != cli_png:
        fail("the page's final image differs from the command line's: %d and %d bytes" % (len(page_png), len(cli_png)))

    server.send_signal(signal.SIGINT)
    try:
        code = server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        fail("Ctrl-C did not end the server")
    if code != 0:
        fail("the server ended with %d after Ctrl-C" % code)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
