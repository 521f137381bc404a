#!/usr/bin/env python3
"""The look-dev page in a real browser: headless Chromium driven by Selenium.

Opens the page that `umbrex-render --serve` prints, moves the spread slider
with the keyboard, waits for the refined image, saves it, and compares it
byte for byte with what the command line renders from the page's copied
command. With --screenshot PATH it also saves a picture of the page.

    look_dev_page_test.py UMBREX_RENDER [--screenshot PATH]
"""
import base64
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import time

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
    """The bytes behind the page's Save PNG link, fetched by the page itself."""
    href = driver.find_element(By.ID, "save-png").get_attribute("href")
    encoded = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        fetch(arguments[0]).then(r => r.arrayBuffer()).then(b => {
            let s = ''; new Uint8Array(b).forEach(c => s += String.fromCharCode(c)); done(btoa(s)); });
    """, href)
    return base64.b64decode(encoded)


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
