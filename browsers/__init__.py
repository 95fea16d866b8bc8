# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""The three browser engines that phones and computers use, started headless on a
machine without network, each behind the same small interface, for the page's test
and its benchmark:

- Chromium (Debian: chromium, chromium-driver) through selenium;
- Firefox ESR (firefox-esr) through WebDriver BiDi, its own remote protocol, over
  python3-websockets: Debian ships no geckodriver;
- WebKitGTK (webkit2gtk-driver, xvfb) through WebKitWebDriver and selenium, its
  MiniBrowser on an Xvfb display of its own;
- Chromium 64 and 80, headless builds of their time from npm (browsers/package.json,
  `npm ci` in browsers/), through the DevTools protocol they speak, over
  python3-websockets: no chromedriver of Debian's drives them.

Each engine's start-up options live here and nowhere else. Selenium and websockets
come with Debian's own Python, /usr/bin/python3. A browser that cannot start raises:
the tests that need it fail, they do not skip."""

import asyncio
import glob
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import tarfile
import tempfile
import threading
import time
import urllib.request

GUARD = 60  # seconds: only a guard against a hang, never a measure

ENTER = "\ue007"  # WebDriver's key for Enter, in text given to Browser.keys
CONTROL = "\ue009"
ESCAPE = "\ue00c"

# Calls an async function given as text with the arguments after it, and answers
# [true, its result] or [false, its error]: the same in both protocols.
ASYNC_CALL = """
const done = arguments[arguments.length - 1];
(%s)(...Array.prototype.slice.call(arguments, 0, -1))
    .then((value) => done([true, value]), (error) => done([false, String(error)]));
"""


class Browser:
    """One browser with one page open: what the tests do to a page."""

    # Whether Enter sent by keys() presses a focused button. Firefox's WebDriver BiDi
    # key actions reach the button (keydown, keypress, keyup) but do not press it,
    # though Enter on the field submits its form.
    keys_press_buttons = True

    def open(self, url):
        raise NotImplementedError

    def reload(self):
        """Reloads the page, as its reload button does."""
        raise NotImplementedError

    def call(self, function, *args):
        """The result of the async JavaScript function `function`, given as text,
        called with `args` (strings, numbers, lists of them) in the page."""
        raise NotImplementedError

    def keys(self, text):
        """Types `text` into the focused element, ENTER and all, as a keyboard does."""
        raise NotImplementedError

    def ctrl(self, key):
        raise NotImplementedError

    def click(self, element_id):
        """A mouse click in the middle of the element with that id."""
        raise NotImplementedError

    def viewport(self, size):
        """Makes the page's viewport (width, height) CSS px, or as it was with None."""
        raise NotImplementedError

    def quit(self):
        raise NotImplementedError


class SeleniumBrowser(Browser):
    def __init__(self, driver, stop=()):
        self.driver = driver
        self.stop = list(stop)  # what to end after the browser, last first
        driver.set_script_timeout(GUARD + 30)

    def call(self, function, *args):
        ok, value = self.driver.execute_async_script(ASYNC_CALL % function, *args)
        if not ok:
            raise RuntimeError(value)
        return value

    def keys(self, text):
        from selenium.webdriver import ActionChains
        ActionChains(self.driver).send_keys(text).perform()

    def ctrl(self, key):
        from selenium.webdriver import ActionChains
        ActionChains(self.driver).key_down(CONTROL).send_keys(key).key_up(CONTROL).perform()

    def click(self, element_id):
        from selenium.webdriver.common.by import By
        self.driver.find_element(By.ID, element_id).click()

    def viewport(self, size):
        # WebDriver sizes the window: by what its frame takes, measured. A window
        # that cannot be made as narrow (WebKitGTK's MiniBrowser, some 450 px with
        # its toolbar) gets the page's root element made that wide instead.
        if not hasattr(self, "window"):
            self.window = self.driver.get_window_size()
        self.root_width = None
        if size is None:
            self.driver.set_window_size(self.window["width"], self.window["height"])
            self._root()
            return
        width, height = size
        for _ in range(3):
            inner = self.driver.execute_script("return [innerWidth, innerHeight];")
            if inner == [width, height]:
                return
            # The frame, as outer less inner; never less than none, which a reading
            # taken while the window still changes can give (the next one mends it).
            outer = self.driver.get_window_size()
            self.driver.set_window_size(width + max(0, outer["width"] - inner[0]),
                                        height + max(0, outer["height"] - inner[1]))
        if inner[1] != height or inner[0] < width:
            raise RuntimeError(f"the viewport cannot be made {width}x{height}: {inner}")
        self.root_width = width
        self._root()

    def _root(self):
        self.driver.execute_script("document.documentElement.style.width = arguments[0];",
                                   f"{self.root_width}px" if self.root_width else "")

    def open(self, url):
        self.driver.get(url)
        if getattr(self, "root_width", None):
            self._root()

    def reload(self):
        self.driver.refresh()
        if getattr(self, "root_width", None):
            self._root()

    def quit(self):
        try:
            self.driver.quit()
        finally:
            for stop in reversed(self.stop):
                stop()


CHROMIUM = shutil.which("chromium") or "chromium"
# Headless, as root, on a machine without network (Lighthouse takes them too).
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", "--disable-quic"]


def chromium(profile):
    """Headless Chromium as root, its profile in the empty folder `profile`: the
    selenium driver itself (the benchmark uses DevTools through it)."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "chromedriver"),
                              options=options)
    driver.set_script_timeout(GUARD + 30)
    return driver


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def ended(process):
    """A function that ends `process` and waits for it."""
    def stop():
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    return stop


def xvfb():
    """A new Xvfb server: its display and the function that stops it."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp",
                               "-screen", "0", "1280x1024x24"], pass_fds=[write],
                              stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as display:
        number = display.readline().strip()
    if not number:
        ended(server)()
        raise RuntimeError("Xvfb did not start (Debian: xvfb)")
    return ":" + number, ended(server)


def webkit(profile):
    """WebKitGTK's MiniBrowser driven by WebKitWebDriver, on an Xvfb display."""
    from selenium import webdriver
    from selenium.webdriver.webkitgtk.options import Options
    display, stop_xvfb = xvfb()
    port = free_port()
    service = subprocess.Popen(["WebKitWebDriver", f"--port={port}"],
                               env=dict(os.environ, DISPLAY=display, HOME=profile),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    stops = [stop_xvfb, ended(service)]
    try:
        until = time.monotonic() + GUARD
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), 1).close()
                break
            except OSError:
                if service.poll() is not None or time.monotonic() > until:
                    raise RuntimeError("WebKitWebDriver did not start "
                                       "(Debian: webkit2gtk-driver)")
                time.sleep(0.05)
        options = Options()
        options.binary_location = (glob.glob("/usr/lib/*/webkit2gtk-4.*/MiniBrowser") +
                                   ["MiniBrowser"])[0]
        options.add_argument("--automation")
        options.capabilities.pop("platform", None)  # not a W3C capability
        driver = webdriver.Remote(f"http://127.0.0.1:{port}", options=options)
    except BaseException:
        for stop in reversed(stops):
            stop()
        raise
    return SeleniumBrowser(driver, stops)


# Firefox's own network use off: updates, telemetry, safe browsing, remote settings,
# captive portal and connectivity checks. The remote agent sets its usual
# automation preferences on top.
FIREFOX_PREFS = {
    "app.update.disabledForTesting": True,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "browser.safebrowsing.update.enabled": False,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.page": 0,
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.enabled": False,
    "extensions.update.enabled": False,
    "extensions.getAddons.cache.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "network.dns.disablePrefetch": True,
    "network.prefetch-next": False,
    "services.settings.server": "data:,",
    "browser.newtabpage.enabled": False,
}


class FirefoxBrowser(Browser):
    """Firefox ESR over WebDriver BiDi: one WebSocket, commands answered by id."""
    keys_press_buttons = False

    def __init__(self, profile):
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            for name, value in FIREFOX_PREFS.items():
                prefs.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
        self.process = subprocess.Popen(
            [shutil.which("firefox-esr") or shutil.which("firefox") or "firefox-esr",
             "--headless", "--no-remote", "--profile", profile,
             "--remote-debugging-port", "0", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
            env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"))
        self.loop = asyncio.new_event_loop()
        self.next_id = 0
        try:
            url = self._listening()
            import websockets

            async def connect():  # made inside the loop, which it then belongs to
                return await websockets.connect(url + "/session", max_size=None,
                                                ping_interval=None)
            self.socket = self._wait(connect())
            self.send("session.new", {"capabilities": {}})
            self.send("session.subscribe", {"events": ["browsingContext.userPromptOpened"]})
            tree = self.send("browsingContext.getTree", {})
            self.context = tree["contexts"][0]["context"]
        except BaseException:
            ended(self.process)()
            self.loop.close()
            self.process.stderr.close()
            raise

    def _listening(self):
        """The WebSocket address Firefox prints once its remote agent listens."""
        lines = []
        for line in self.process.stderr:
            lines.append(line)
            found = re.search(r"WebDriver BiDi listening on (ws://\S+)", line)
            if found:
                # Firefox goes on writing there: read on, so that it never blocks.
                self.reader = threading.Thread(target=self.process.stderr.read, daemon=True)
                self.reader.start()
                return found.group(1)
        raise RuntimeError("Firefox did not start its remote agent (Debian: "
                           "firefox-esr): " + "".join(lines[-5:]))

    def _wait(self, awaitable):
        return self.loop.run_until_complete(asyncio.wait_for(awaitable, GUARD + 30))

    async def _command(self, method, params):
        self.next_id += 1
        number = self.next_id
        await self.socket.send(json.dumps({"id": number, "method": method, "params": params}))
        while True:  # events, but for a prompt, are passed over
            message = json.loads(await self.socket.recv())
            if message.get("method") == "browsingContext.userPromptOpened":
                # The page asking before it is left: leave. Newer Firefox does so of
                # itself; ESR 140 would hold the navigation for ever.
                self.next_id += 1
                await self.socket.send(json.dumps({
                    "id": self.next_id, "method": "browsingContext.handleUserPrompt",
                    "params": {"context": message["params"]["context"], "accept": True}}))
            if message.get("id") == number:
                if message.get("type") == "error":
                    raise RuntimeError(f"{method}: {message.get('error')}: "
                                       f"{message.get('message')}")
                return message["result"]

    def send(self, method, params):
        return self._wait(self._command(method, params))

    def open(self, url):
        self.send("browsingContext.navigate",
                  {"context": self.context, "url": url, "wait": "complete"})

    def reload(self):
        self.send("browsingContext.reload", {"context": self.context, "wait": "complete"})

    @staticmethod
    def _local(value):
        if isinstance(value, str):
            return {"type": "string", "value": value}
        if isinstance(value, bool):
            return {"type": "boolean", "value": value}
        if isinstance(value, (int, float)):
            return {"type": "number", "value": value}
        if value is None:
            return {"type": "null"}
        return {"type": "array", "value": [FirefoxBrowser._local(item) for item in value]}

    @staticmethod
    def _remote(value):
        kind = value["type"]
        if kind in ("undefined", "null"):
            return None
        if kind == "array":
            return [FirefoxBrowser._remote(item) for item in value["value"]]
        if kind == "object":
            return {key: FirefoxBrowser._remote(item) for key, item in value["value"]}
        return value.get("value")

    def call(self, function, *args):
        result = self.send("script.callFunction", {
            "functionDeclaration": function, "awaitPromise": True,
            "arguments": [self._local(arg) for arg in args],
            "target": {"context": self.context}})
        if result["type"] == "exception":
            raise RuntimeError(result["exceptionDetails"]["text"])
        return self._remote(result["result"])

    def _actions(self, *sources):
        self.send("input.performActions", {"context": self.context, "actions": list(sources)})

    def keys(self, text):
        steps = []
        for key in text:
            steps += [{"type": "keyDown", "value": key}, {"type": "keyUp", "value": key}]
        self._actions({"type": "key", "id": "keyboard", "actions": steps})

    def ctrl(self, key):
        self._actions({"type": "key", "id": "keyboard", "actions": [
            {"type": "keyDown", "value": CONTROL}, {"type": "keyDown", "value": key},
            {"type": "keyUp", "value": key}, {"type": "keyUp", "value": CONTROL}]})

    def click(self, element_id):
        found = self.send("script.evaluate", {
            "expression": f"document.getElementById({json.dumps(element_id)})",
            "awaitPromise": False, "target": {"context": self.context}})
        element = {"sharedId": found["result"]["sharedId"]}
        self._actions({"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                       "actions": [{"type": "pointerMove", "x": 0, "y": 0,
                                    "origin": {"type": "element", "element": element}},
                                   {"type": "pointerDown", "button": 0},
                                   {"type": "pointerUp", "button": 0}]})

    def viewport(self, size):
        self.send("browsingContext.setViewport", {
            "context": self.context,
            "viewport": size and {"width": size[0], "height": size[1]}})

    def quit(self):
        try:
            self.send("session.end", {})
            self._wait(self.socket.close())
        except Exception:  # Firefox may close the socket as it ends
            pass
        finally:
            ended(self.process)()
            self.loop.close()
            self.reader.join(10)  # until its content processes have ended too
            self.process.stderr.close()


NODE_MODULES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "node_modules")


def unpacked(package):
    """The folder of the old Chromium that the npm package `package` holds
    brotli'd: its program, and for some its libraries (lib/) and SwiftShader.
    Unpacked once, beside the package, by Node's own brotli."""
    folder = os.path.join(NODE_MODULES, package)
    done = os.path.join(folder, "unpacked")
    if os.path.isdir(done):
        return done
    if not os.path.isdir(os.path.join(folder, "bin")):
        raise RuntimeError(f"{package} is not installed: run `npm ci` in browsers/")
    work = tempfile.mkdtemp(dir=folder)
    for name in sorted(os.listdir(os.path.join(folder, "bin"))):
        packed = os.path.join(folder, "bin", name)
        target = os.path.join(work, name[:-len(".br")])
        with open(target, "wb") as out:
            subprocess.run([shutil.which("node") or "node", "-e",
                            "process.stdout.write(require('zlib').brotliDecompressSync("
                            "require('fs').readFileSync(process.argv[1])))", packed],
                           stdout=out, check=True)
        if target.endswith(".tar"):
            with tarfile.open(target) as archive:
                archive.extractall(work)
            os.remove(target)
    os.chmod(os.path.join(work, "chromium"), 0o755)
    os.rename(work, done)  # whole or not at all
    return done


class DevToolsBrowser(Browser):
    """An old headless Chromium over the DevTools protocol: one WebSocket to its
    page, commands answered by id, events kept until asked for."""

    def __init__(self, package, profile):
        folder = unpacked(package)
        port = free_port()
        self.process = subprocess.Popen(
            [os.path.join(folder, "chromium")] + CHROMIUM_FLAGS +
            ["--single-process", "--no-zygote", f"--remote-debugging-port={port}",
             f"--user-data-dir={profile}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=dict(os.environ, LD_LIBRARY_PATH=os.path.join(folder, "lib")))
        self.loop = asyncio.new_event_loop()
        self.next_id = 0
        self.events = []
        try:
            page, self.version = self._listening(port)
            import websockets

            async def connect():
                return await websockets.connect(page, max_size=None, ping_interval=None)
            self.socket = self._wait(connect())
            self.send("Page.enable", {})
        except BaseException:
            ended(self.process)()
            self.loop.close()
            raise

    def _listening(self, port):
        """The page's WebSocket address, and the browser's major version."""
        until = time.monotonic() + GUARD
        while True:
            try:
                def get(path):
                    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=5) as r:
                        return json.load(r)
                pages = [t for t in get("/json/list") if t["type"] == "page"]
                version = get("/json/version")["Browser"]
                if pages:
                    return (pages[0]["webSocketDebuggerUrl"],
                            int(re.search(r"/(\d+)\.", version).group(1)))
            except OSError:
                pass
            if self.process.poll() is not None or time.monotonic() > until:
                raise RuntimeError("the old Chromium did not start its DevTools")
            time.sleep(0.1)

    def _wait(self, awaitable):
        return self.loop.run_until_complete(asyncio.wait_for(awaitable, GUARD + 30))

    async def _next(self):
        message = json.loads(await self.socket.recv())
        if "id" not in message:
            self.events.append(message["method"])
            if message["method"] == "Page.javascriptDialogOpening":
                # The page asking before it is left: leave, as the other drivers do.
                self.next_id += 1
                await self.socket.send(json.dumps({
                    "id": self.next_id, "method": "Page.handleJavaScriptDialog",
                    "params": {"accept": True}}))
        return message

    async def _command(self, method, params):
        self.next_id += 1
        number = self.next_id
        await self.socket.send(json.dumps({"id": number, "method": method, "params": params}))
        while True:
            message = await self._next()
            if message.get("id") == number:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error'].get('message')}")
                return message["result"]

    def send(self, method, params):
        return self._wait(self._command(method, params))

    def open(self, url):
        self._loaded("Page.navigate", {"url": url})

    def reload(self):
        self._loaded("Page.reload", {})

    def _loaded(self, method, params):
        async def navigate():
            self.events = []
            await self._command(method, params)
            while "Page.loadEventFired" not in self.events:
                await self._next()
        self._wait(navigate())

    def call(self, function, *args):
        result = self.send("Runtime.evaluate", {
            "expression": f"({function})(...{json.dumps(list(args))})",
            "awaitPromise": True, "returnByValue": True})
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise RuntimeError(details.get("exception", {}).get("description")
                               or details["text"])
        return result["result"].get("value")

    def _key(self, kind, **params):
        self.send("Input.dispatchKeyEvent", dict(params, type=kind))

    def keys(self, text):
        for key in text:
            if key == ENTER:
                params = {"key": "Enter", "code": "Enter", "windowsVirtualKeyCode": 13,
                          "text": "\r"}
            elif key == ESCAPE:
                params = {"key": "Escape", "code": "Escape", "windowsVirtualKeyCode": 27}
            else:
                params = {"key": key, "text": key}
            self._key("keyDown", **params)
            self._key("keyUp", key=params["key"])

    def ctrl(self, key):
        control = {"key": "Control", "code": "ControlLeft", "windowsVirtualKeyCode": 17,
                   "modifiers": 2}
        pressed = {"key": key, "code": "Key" + key.upper(),
                   "windowsVirtualKeyCode": ord(key.upper()), "modifiers": 2}
        self._key("rawKeyDown", **control)
        self._key("rawKeyDown", **pressed)
        self._key("keyUp", **pressed)
        self._key("keyUp", **dict(control, modifiers=0))

    def click(self, element_id):
        x, y = self.call("""async (id) => {
            const element = document.getElementById(id);
            element.scrollIntoView();
            const box = element.getBoundingClientRect();
            return [box.left + box.width / 2, box.top + box.height / 2];}""", element_id)
        for kind in ["mouseMoved", "mousePressed", "mouseReleased"]:
            self.send("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y,
                                                   "button": "left", "clickCount": 1})

    def viewport(self, size):
        if size is None:
            self.send("Emulation.clearDeviceMetricsOverride", {})
        else:
            self.send("Emulation.setDeviceMetricsOverride", {
                "width": size[0], "height": size[1], "deviceScaleFactor": 0,
                "mobile": False})

    def quit(self):
        try:
            self._wait(self.socket.close())
        finally:
            ended(self.process)()
            self.loop.close()


class Site:
    """The site's folder served on 127.0.0.1 by Python's own static server, each
    file with the header Cache-Control: `caching`, until stop()."""

    def __init__(self, folder, caching="no-store"):

        class Quiet(http.server.SimpleHTTPRequestHandler):
            extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                                  **{".webmanifest": "application/manifest+json",
                                     ".js": "text/javascript"})

            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=folder, **kwargs)

            def log_message(self, *_):
                pass

            def send_head(self):
                # Every file in full: this server tells a file unchanged by its time
                # to the second, and a test's next release may be written within the
                # second of the one before, when a browser checking for it would be
                # told there is none.
                del self.headers["If-Modified-Since"]
                return super().send_head()

            def end_headers(self):
                # By default nothing kept by the browser's own HTTP cache: offline,
                # the page can only come from the service worker's.
                self.send_header("Cache-Control", caching)
                super().end_headers()

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Quiet)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


ENGINES = {
    "chromium": lambda profile: SeleniumBrowser(chromium(profile)),
    "firefox": FirefoxBrowser,
    "webkit": webkit,
    "chromium-64": lambda profile: DevToolsBrowser("chromium-64", profile),
    "chromium-80": lambda profile: DevToolsBrowser("chromium-80", profile),
}


class Started:
    """A browser of `engine` with a fresh profile, for a `with` block."""

    def __init__(self, engine):
        self.engine = engine

    def __enter__(self):
        self.profile = tempfile.TemporaryDirectory()
        try:
            self.browser = ENGINES[self.engine](self.profile.name)
        except BaseException:
            self.profile.cleanup()
            raise
        return self.browser

    def __exit__(self, *_):
        try:
            self.browser.quit()
        finally:
            self.profile.cleanup()
