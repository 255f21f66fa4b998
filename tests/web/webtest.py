"""Shared by the browser tests: the test host running the real service, a local web server and
Debian's chromium driven by chromedriver, bounded waits and screenshots.

The service runs in kiv3-web-test-host (WebTestHost.cpp) with a private spooler whose default
queue "PDF" writes PDF files, a card reader on a pseudo-terminal and the stand-in caller-ID
library; tests drive those through the host's line commands.
"""

import argparse
import base64
import contextlib
import functools
import http.server
import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

# The agent's texts come from its C++ headers, through tests/support/agent_texts.py.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PACKAGES = "chromium chromium-driver python3-selenium"
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    # The agent's certificate is self-signed.
    "--ignore-certificate-errors",
    "--window-size=1400,1000",
]

# Bounded waits, generous for a shared 2-core machine.
PAGE_WAIT_S = 30
# A scan of the ports every 3 s, a probe and an attachment.
ATTACH_WAIT_S = 30
# The private spooler starts, converts the job and writes its PDF.
SPOOLER_WAIT_S = 90
HOST_QUIT_WAIT_S = 60

# Set by main() from the command line: host_program, web_dir, artifact_dir, agent_version.
ARGS = None


def prerequisites_missing():
    """Why the test cannot run here, or None: missing parts are a failure, never a skip."""
    if os.geteuid() != 0:
        return "must run as root: the private spooler needs it"
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            return f"{path} is missing: apt-get install {PACKAGES}"
    if importlib.util.find_spec("selenium") is None:
        return f"python3-selenium is missing: apt-get install {PACKAGES}"
    if not os.access(ARGS.host_program, os.X_OK):
        return f"the test host {ARGS.host_program} is not built"
    return None


class Host:
    """The test host: its output collected line by line, commands written to its input."""

    def __init__(self, program):
        environment = dict(os.environ)
        environment.setdefault("QT_QPA_PLATFORM", "offscreen")
        self.lines = []
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            [program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            env=environment, text=True, encoding="utf-8", errors="replace", bufsize=1)
        self.collector = threading.Thread(target=self._collect, daemon=True)
        self.collector.start()
        first = self.wait_for_line(lambda line: line == "ready" or line.startswith("error start"),
                                   SPOOLER_WAIT_S)
        if first != "ready":
            self.stop()
            raise RuntimeError(f"the test host did not start: {first}")

    def _collect(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            print(f"host: {line}", flush=True)
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()
        with self.changed:
            self.changed.notify_all()

    def wait_for_line(self, matches, timeout, start=0):
        """The first line from index `start` on that matches, or None on timeout or exit."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                found = next((line for line in self.lines[start:] if matches(line)), None)
                remaining = deadline - time.monotonic()
                if found is not None or remaining <= 0 or self.process.poll() is not None:
                    return found
                self.changed.wait(min(remaining, 1))

    def mark(self):
        with self.changed:
            return len(self.lines)

    def command(self, text, timeout=PAGE_WAIT_S):
        """Sends a command and returns its answer line (ok, error or jobs)."""
        name = text.split(" ", 1)[0]
        start = self.mark()
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()
        answer = self.wait_for_line(
            lambda line: line.startswith((f"ok {name}", f"error {name}:", f"{name} ")),
            timeout, start)
        if answer is None or answer.startswith("error"):
            raise AssertionError(f"host command '{text}' failed: {answer}")
        return answer

    def wait_for_log(self, text, start, timeout=PAGE_WAIT_S, ending=False):
        """Every log line from index `start` on up to the first that holds `text` (that ends
        with it, with `ending`: one action's text may begin another's)."""
        found = self.wait_for_line(
            lambda line: line.startswith("log ") and (line.endswith(text) if ending
                                                      else text in line), timeout, start)
        if found is None:
            raise AssertionError(f"the host never logged '{text}'")
        with self.changed:
            lines = [line[4:] for line in self.lines[start:] if line.startswith("log ")]
        return lines[:lines.index(found[4:]) + 1]

    def jobs(self):
        return json.loads(self.command("jobs").split(" ", 1)[1])

    def wait_until_idle(self):
        """Waits until no job of the spooler is pending or processing."""
        deadline = time.monotonic() + SPOOLER_WAIT_S
        while busy := [job for job in self.jobs()["jobs"]
                       if job["state"] in ("pending", "processing")]:
            if time.monotonic() > deadline:
                raise AssertionError(f"the spooler stayed busy with {busy}")
            time.sleep(0.5)

    # A frozen agent keeps its connections open but answers nothing, as a hung one would.
    def freeze(self):
        os.kill(self.process.pid, signal.SIGSTOP)

    def thaw(self):
        os.kill(self.process.pid, signal.SIGCONT)

    # A crashed agent: no goodbye to its clients. The spooler watches the host and stops itself.
    def kill(self):
        self.process.kill()
        self.process.wait()
        self.collector.join()
        self.process.stdout.close()

    def stop(self):
        if self.process.poll() is None:
            with contextlib.suppress(OSError):
                self.process.stdin.write("quit\n")
                self.process.stdin.close()
            try:
                self.process.wait(HOST_QUIT_WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.collector.join()
        self.process.stdout.close()
        # A sanitizer's report, a crash or a hang at exit shows only in the host's status.
        if self.process.returncode != 0:
            raise AssertionError(f"the test host ended with status {self.process.returncode}")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    # Paths served from memory rather than from the folder.
    pages = {}

    def do_GET(self):
        page = self.pages.get(self.path.split("?", 1)[0])
        if page is None:
            return super().do_GET()
        body = page.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        return None

    def log_message(self, *args):
        pass


def start_web_server(stack, directory, pages=None):
    """Serves `directory` and `pages` ({path: html}) on loopback; returns the base URL."""
    handler = type("Handler", (QuietHandler,), {"pages": pages or {}})
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(handler, directory=directory))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    stack.callback(server.server_close)
    stack.callback(server.shutdown)
    return f"http://127.0.0.1:{server.server_address[1]}"


def start_browser(stack, extra_flags=(), trust_any_certificate=True):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in [*CHROMIUM_FLAGS, *extra_flags]:
        if flag == "--ignore-certificate-errors" and not trust_any_certificate:
            continue
        options.add_argument(flag)
    profile = stack.enter_context(tempfile.TemporaryDirectory(prefix="kiv3-chromium-"))
    options.add_argument(f"--user-data-dir={profile}")
    driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
    stack.callback(driver.quit)
    return driver


class BrowserTest(unittest.TestCase):
    """A test case with self.driver set by its class; saves a screenshot after each test.
    A class starts what it tests in start_class, whose stack is closed after its last test or
    when starting fails."""

    screenshot_prefix = "browser"

    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        try:
            cls.start_class(cls.stack)
        except BaseException:
            cls.stack.close()
            raise

    @classmethod
    def start_class(cls, stack):
        raise NotImplementedError

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def text(self, element_id):
        return self.driver.find_element("id", element_id).text

    def tearDown(self):
        name = self._testMethodName.removeprefix("test_")
        self.save_screenshot(f"{self.screenshot_prefix}-{name}.png")

    def save_screenshot(self, name):
        os.makedirs(ARGS.artifact_dir, exist_ok=True)
        path = os.path.join(ARGS.artifact_dir, name)
        size = self.driver.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
        shot = self.driver.execute_cdp_cmd("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}})
        with open(path, "wb") as file:
            file.write(base64.b64decode(shot["data"]))
        print(f"screenshot: {path}", flush=True)

    def wait_until(self, what, condition, timeout=PAGE_WAIT_S):
        from selenium.webdriver.support.ui import WebDriverWait

        return WebDriverWait(self.driver, timeout, poll_frequency=0.1).until(
            lambda driver: condition(), message=f"waited {timeout} s for {what}")


def main(description):
    """Parses the command line into ARGS and runs the tests of the calling script."""
    global ARGS
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--host-program", required=True)
    parser.add_argument("--web-dir", required=True)
    parser.add_argument("--artifact-dir", required=True)
    parser.add_argument("--agent-version", required=True, help="the version the build wrote in")
    ARGS, rest = parser.parse_known_args()
    reason = prerequisites_missing()
    if reason:
        print(f"FAIL: {reason}", file=sys.stderr)
        return 1
    program = unittest.main(module="__main__", argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1
