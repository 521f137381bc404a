#!/usr/bin/env python3
"""The look-dev page in a real browser: headless Chromium driven by Selenium.

On the built-in scene: moves the spread slider with the keyboard and waits for
the passes to complete; reads the pixel under the cursor and finds it in the
EXR the page saves; clicks Save PNG then Save EXR and finds both files, named
after the look, though the look changes right after; types a bad width and
finds the old image marked stale and the copied command still the last good
one; picks #803020 and finds it sent linear; asks for 100000 samples, stops
them, and finds the server's count of renders settled and the command naming
the samples reached; measures the noise between two seeds after one pass and
after eight; keeps a snapshot as A and a preset, reloads, and finds both. Then
a page served from another port of the loopback address tries to make the
server render, with an image and a fetch: both are refused with 403, and the
server renders nothing for them. The saved PNG is byte for byte what the
command line renders from the copied command. On the 2CylinderEngine glTF's
own camera: a 120-pixel drag and five wheel steps keep the engine in frame.
With --screenshot PATH it also saves a picture of the page.

    look_dev_page_test.py UMBREX_RENDER [--screenshot PATH] [--corpus FOLDER]
"""
import base64
import http.server
import json
import os
import shlex
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def start_server(program, *options):
    server = subprocess.Popen([program, "--serve", "--port", "0", "--width", "320", "--height", "180"] + list(options),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = server.stdout.readline()
    if "http://" not in line:
        fail("the server printed no address: " + line)
    return server, line[line.index("http://"):].split()[0]


def stop_server(server):
    server.send_signal(signal.SIGINT)
    try:
        code = server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        fail("Ctrl-C did not end the server")
    if code != 0:
        fail("the server ended with %d after Ctrl-C" % code)


def browser(downloads):
    options = Options()
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1400,900"):
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="umbrex-chromium-"))
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    return driver


def state(driver):
    return driver.find_element(By.ID, "view").get_attribute("data-state")


def wait_for(driver, wanted, what, seconds=60):
    try:
        WebDriverWait(driver, seconds).until(lambda d: state(d) in wanted)
    except Exception:
        fail("waiting for %s: the view stays %s (%s)" % (what, state(driver), driver.find_element(By.ID, "error").text))


def rendered(driver):
    """Renders the page has shown so far: a count kept by the test."""
    return driver.execute_script("return run.generation")


def wait_for_final(driver, since, what):
    """Waits for the passes of a change newer than `since` to complete."""
    WebDriverWait(driver, 60).until(lambda d: rendered(d) > since)
    wait_for(driver, ("final",), what)


def value_of(driver, element_id, value):
    """Types a value into a field and commits it, as a user does."""
    field = driver.find_element(By.ID, element_id) if not element_id.startswith(".") else \
        driver.find_element(By.CSS_SELECTOR, element_id)
    before = rendered(driver)
    driver.execute_script("arguments[0].value = arguments[1];"
                          "arguments[0].dispatchEvent(new Event('change'));", field, str(value))
    return before


def saved(driver, format):
    """The bytes the page's save of the kept look gets, as the page gets them."""
    encoded = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        saved(arguments[0]).then(blob => blob.arrayBuffer()).then(b => {
            let s = ''; new Uint8Array(b).forEach(c => s += String.fromCharCode(c)); done(btoa(s)); });
    """, format)
    return base64.b64decode(encoded)


def exr_pixels(data):
    """The float RGBA pixels of an EXR as umbrex-render writes it (scan lines,
    ZIP or no compression, channels A B G R): {(x, y): (r, g, b, a)}."""
    at = 8
    header = {}
    while data[at] != 0:
        name_end = data.index(b"\0", at)
        type_end = data.index(b"\0", name_end + 1)
        size = struct.unpack_from("<i", data, type_end + 1)[0]
        header[data[at:name_end].decode()] = data[type_end + 5:type_end + 5 + size]
        at = type_end + 5 + size
    at += 1
    x0, y0, x1, y1 = struct.unpack("<4i", header["dataWindow"])
    width, height = x1 - x0 + 1, y1 - y0 + 1
    lines = {0: 1, 2: 1, 3: 16}[header["compression"][0]]  # none, ZIPS, ZIP
    chunks = (height + lines - 1) // lines
    offsets = struct.unpack_from("<%dQ" % chunks, data, at)
    pixels = {}
    for offset in offsets:
        y, size = struct.unpack_from("<ii", data, offset)
        block = data[offset + 8:offset + 8 + size]
        rows = min(lines, y1 + 1 - y)
        if size < rows * width * 16:
            t = bytearray(zlib.decompress(block))
            for i in range(1, len(t)):
                t[i] = (t[i - 1] + t[i] - 128) & 255
            half = (len(t) + 1) // 2
            block = bytearray(len(t))
            block[0::2] = t[:half]
            block[1::2] = t[half:]
        for row in range(rows):
            a, b, g, r = (struct.unpack_from("<%df" % width, block, (row * 4 + c) * width * 4) for c in range(4))
            for x in range(width):
                pixels[(x, y - y0 + row)] = (r[x], g[x], b[x], a[x])
    return pixels, header


def coverage(driver):
    """The share of the shown image's pixels that some camera ray hit."""
    return driver.execute_script("""
        const d = view.image.data; let hit = 0;
        for (let i = 3; i < d.length; i += 4) hit += d[i] > 0;
        return hit / (d.length / 4);""")


def renders_started(url):
    """How many renders the server has started and has in flight, asked with the page's token."""
    base, token = url.split("/?token=")
    request = urllib.request.Request(base + "/status", headers={"X-Umbrex-Token": token})
    with urllib.request.urlopen(request) as answer:
        status = json.load(answer)
    return status["renders"], status["in_flight"]


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


def command_of(driver):
    return driver.find_element(By.ID, "command").get_attribute("value")


def check_values_and_saves(driver, downloads):
    """The readout of a pixel against the saved EXR; Save PNG then Save EXR."""
    canvas = driver.find_element(By.ID, "view")
    ActionChains(driver).move_to_element_with_offset(canvas, 37, -23).perform()
    readout = driver.find_element(By.ID, "pixel")
    x, y = int(readout.get_attribute("data-x")), int(readout.get_attribute("data-y"))
    shown = tuple(float(v) for v in readout.get_attribute("data-rgba").split(","))
    pixels, header = exr_pixels(saved(driver, "exr"))
    if tuple(struct.unpack("<f", struct.pack("<f", v))[0] for v in pixels[(x, y)]) != shown:
        fail("the readout at (%d, %d) says %s, the EXR holds %s" % (x, y, shown, pixels[(x, y)]))
    if command_of(driver).split(" --output")[0].encode() not in header.get("command", b""):
        fail("the EXR's command is %r, the copied one %r" % (header.get("command"), command_of(driver)))

    name = driver.execute_script("return lookName(keptLook().state, keptLook().samples)")
    driver.find_element(By.ID, "save-png").click()
    driver.find_element(By.ID, "save-exr").click()
    # A change right after the clicks changes neither file.
    since = value_of(driver, '.parameter[data-name="samples"] input[type=number]', 24)
    wanted = {name + ".png": b"\x89PNG", name + ".exr": b"\x76\x2f\x31\x01"}
    for _ in range(300):
        if all(os.path.exists(os.path.join(downloads, f)) for f in wanted):
            break
        time.sleep(0.1)
    for file, magic in wanted.items():
        path = os.path.join(downloads, file)
        if not os.path.exists(path):
            fail("Save PNG then Save EXR: %s did not arrive (there are %s)" % (file, os.listdir(downloads)))
        with open(path, "rb") as saved_file:
            if not saved_file.read().startswith(magic):
                fail(file + " is not what its name says")
    wait_for_final(driver, since, "the change after the saves")


def check_bad_value(driver):
    """A bad width: the image marked stale, the error at the field, the
    copied command still the last good look's."""
    good = command_of(driver)
    value_of(driver, "width", -5)
    wait_for(driver, ("error",), "the bad width's error")
    if "--width: -5" not in driver.find_element(By.ID, "image-error").text:
        fail("the image settings do not show the error: " + driver.find_element(By.ID, "image-error").text)
    if "stale" not in driver.find_element(By.ID, "view-box").get_attribute("class"):
        fail("the old image is not marked stale")
    if command_of(driver) != good:
        fail("after a bad width the copied command is " + command_of(driver))
    # The server may get a change's request before the older one the page
    # aborted, and call the newer superseded: the page asks again.
    driver.execute_script("""
        const real = api; let once = true;
        window.api = (path, signal) => {
            if (once && path.includes('level=coarse')) {
                once = false;
                return Promise.resolve(new Response('superseded by a newer change', {status: 409}));
            }
            return real(path, signal);
        };""")
    since = value_of(driver, "width", 320)
    wait_for_final(driver, since, "the width set right again, its first answer 409")


def check_colour_picker(driver):
    """A colour picked in sRGB is sent as linear values."""
    since = value_of(driver, '.parameter[data-name="dark"] input[type=color]', "#803020")
    wait_for_final(driver, since, "the picked colour")
    if "--set dark=0.215860501,0.0295568351,0.0144438436,1 " not in command_of(driver):
        fail("#803020 picked for dark gives " + command_of(driver))
    driver.find_element(By.CSS_SELECTOR, '.parameter[data-name="dark"] button.reset').click()


def check_stop(driver, url):
    """100000 samples, stopped: the renders settle, the command names the samples reached."""
    samples = '.parameter[data-name="samples"] input[type=number]'
    value_of(driver, samples, 100000)
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return run.done") >= 2 * d.execute_script(
        "return passSamples(run.state)"))
    eta = driver.find_element(By.ID, "eta").text
    if "left" not in eta:
        fail("no estimate of the time left: " + eta)
    driver.find_element(By.ID, "stop").click()
    done = driver.execute_script("return run.done")
    time.sleep(0.3)
    settled = renders_started(url)
    time.sleep(1.0)
    if renders_started(url) != (settled[0], 0):
        fail("after Stop the server went on rendering: %s, then %s" % (settled, renders_started(url)))
    if "samples=%d " % done not in command_of(driver) or "--pass-samples" not in command_of(driver):
        fail("the stopped image's command is " + command_of(driver))
    since = value_of(driver, samples, 32)
    wait_for_final(driver, since, "32 samples again")


def check_noise(driver):
    """The noise between two seeds, after one pass and after eight."""
    samples = '.parameter[data-name="samples"] input[type=number]'
    pass_samples = driver.execute_script("return passSamples(page.state)")
    noise = []
    for count in (pass_samples, 8 * pass_samples):
        images = []
        for seed in (1, 2):
            value_of(driver, samples, count)
            since = value_of(driver, "seed", seed)
            wait_for_final(driver, since, "seed %d" % seed)
            images.append(driver.execute_script("window.kept = (window.kept || []).concat([view.image.data.slice()]);"
                                                "return window.kept.length - 1"))
        noise.append(driver.execute_script("""
            const a = window.kept[arguments[0]], b = window.kept[arguments[1]]; let sum = 0;
            for (let i = 0; i < a.length; i += 4) sum += (a[i] - b[i]) ** 2;
            return Math.sqrt(sum / (a.length / 4));""", *images))
    if not noise[1] < 0.6 * noise[0]:
        fail("eight passes leave noise %.4f, one pass %.4f" % (noise[1], noise[0]))
    value_of(driver, "seed", 0)
    since = value_of(driver, samples, 32)
    wait_for_final(driver, since, "seed 0 again")


def check_kept_over_reload(driver, url):
    """The snapshot taken first, chosen as A, and a preset outlive a reload."""
    driver.find_element(By.CSS_SELECTOR, "#strip .snapshot .choose-a").click()
    driver.find_element(By.ID, "preset-name").send_keys("soft")
    driver.find_element(By.ID, "keep-preset").click()
    driver.refresh()
    wait_for(driver, ("final",), "the reloaded page")
    WebDriverWait(driver, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, "#strip .snapshot.chosen"))
    if driver.find_element(By.ID, "wipe-label").get_attribute("hidden") is not None:
        fail("after a reload the A/B wipe is gone")
    if "soft" not in [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#presets .preset span")]:
        fail("after a reload the preset is gone")


def built_in_scene(program, screenshot, downloads):
    server, url = start_server(program)
    driver = browser(downloads)
    try:
        driver.get(url)
        wait_for(driver, ("final",), "the first image")
        if driver.find_element(By.ID, "mode").text != "occlusion":
            fail("the mode readout says " + driver.find_element(By.ID, "mode").text)
        driver.find_element(By.ID, "snapshot").click()
        WebDriverWait(driver, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, "#strip .snapshot"))

        spread = driver.find_element(By.CSS_SELECTOR, '.parameter[data-name="spread"] input[type=range]')
        before = rendered(driver)
        spread.click()
        for _ in range(40):
            spread.send_keys(Keys.LEFT)
        wait_for_final(driver, before, "the spread's image")
        value = driver.find_element(By.CSS_SELECTOR, '.parameter[data-name="spread"] input[type=number]')
        if float(value.get_attribute("value")) >= 90:
            fail("the slider did not move: spread " + value.get_attribute("value"))
        if "samples" not in driver.find_element(By.ID, "samples").text:
            fail("no samples readout")
        command = command_of(driver)
        if "--set spread=" not in command:
            fail("the copied command does not set spread: " + command)
        page_png = saved(driver, "png")

        check_values_and_saves(driver, downloads)
        check_bad_value(driver)
        check_colour_picker(driver)
        check_stop(driver, url)
        check_noise(driver)
        check_kept_over_reload(driver, url)
        if screenshot:
            since = value_of(driver, '.parameter[data-name="dark"] input[type=color]', "#803020")
            wait_for_final(driver, since, "the picture's look")
            driver.execute_script("view.wipe = 0.4; draw();")
            ActionChains(driver).move_to_element_with_offset(driver.find_element(By.ID, "view"), 60, 40).perform()
            driver.save_screenshot(screenshot)

        # Another page of this machine cannot drive the server.
        before = renders_started(url)[0]
        driver.get_log("performance")
        driver.get(foreign_page(url))
        WebDriverWait(driver, 30).until(lambda d: d.title == "done")
        refused = statuses(driver, url.split("/?token=")[0] + "/render")
        if sorted(refused) != [403, 403]:
            fail("the other page's image and fetch got %s, not 403 and 403" % refused)
        if renders_started(url)[0] != before:
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
    stop_server(server)


def engine_in_frame(program, corpus, downloads):
    """Orbit and dolly about the engine from the file's own camera."""
    server, url = start_server(program, "--scene", os.path.join(corpus, "2CylinderEngine.glb"))
    driver = browser(downloads)
    try:
        driver.get(url)
        wait_for(driver, ("final",), "the engine")
        start = coverage(driver)
        if start < 0.05:
            fail("the file's camera shows %.3f of the engine" % start)
        before = rendered(driver)
        ActionChains(driver).drag_and_drop_by_offset(driver.find_element(By.ID, "view"), 120, 0).perform()
        wait_for_final(driver, before, "the orbited engine")
        turned = coverage(driver)
        distance = "return Math.hypot(...sub(page.state.camera.eye, page.pivot))"
        far = driver.execute_script(distance)
        before = rendered(driver)
        driver.execute_script("""for (let i = 0; i < 5; ++i)
            document.getElementById('view').dispatchEvent(new WheelEvent('wheel', {deltaY: -100, cancelable: true}));""")
        wait_for_final(driver, before, "the dollied engine")
        near = driver.execute_script(distance)
        dollied = coverage(driver)
    finally:
        driver.quit()
    stop_server(server)
    if turned < 0.5 * start:
        fail("after a 120-pixel drag the engine covers %.3f of the frame, %.3f before" % (turned, start))
    if not 0.5 < near / far < 0.7:
        fail("five wheel steps moved the camera from %.1f to %.1f units of the pivot" % (far, near))
    if dollied < turned:
        fail("dollying in, the engine covers %.3f of the frame, %.3f before" % (dollied, turned))


def main():
    program = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    corpus = sys.argv[sys.argv.index("--corpus") + 1] if "--corpus" in sys.argv else \
        os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".corpus")
    with tempfile.TemporaryDirectory() as downloads:
        built_in_scene(program, screenshot, downloads)
        engine_in_frame(program, corpus, downloads)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
