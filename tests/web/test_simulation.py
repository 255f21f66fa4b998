#!/usr/bin/python3
"""The demo page drives an agent started with --simulate-devices, and another page hears it.

The agent program itself runs, offscreen and on loopback only, with its simulated card reader
and caller-ID line; Debian's chromium opens the demo page (web/index.html) in one tab and, in
another, a bare page on the client library that records the events it receives. A full-page
screenshot of each test's last state is saved under --artifact-dir.
"""

import os
import subprocess
import sys
import threading
import time

import webtest
from webtest import PAGE_WAIT_S, BrowserTest, start_browser, start_web_server
# webtest has put tests/support on the path.
import agent_texts

START_WAIT_S = 60
QUIT_WAIT_S = 30
STARTED_LINE = agent_texts.text("AppTexts::kStarted")

# A page of an integrator: it only listens, and keeps what it hears in order.
LISTENER = """<!DOCTYPE html>
<meta charset="utf-8"><title>listener</title>
<script type="module">
import { connect } from "./kiv3-client.js";
window.heard = [];
window.opened = false;
const agent = connect({ host: "127.0.0.1" });
window.agent = agent;
agent.on("open", () => { window.opened = true; });
for (const event of ["reader", "unreader", "card", "callin"])
  agent.on(event, (value) => window.heard.push(value === undefined ? [event] : [event, value]));
</script>
"""


class Agent:
    """The agent program with simulated devices; its log lines (standard error) collected."""

    def __init__(self, program):
        environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.lines = []
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            [program, "--simulate-devices", "--local-only"], stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=environment, text=True,
            encoding="utf-8", errors="replace")
        self.collector = threading.Thread(target=self._collect, daemon=True)
        self.collector.start()
        if not self.wait_for_log(STARTED_LINE, 0, START_WAIT_S):
            self.stop()
            raise RuntimeError(f"the agent did not start: {self.lines}")

    def _collect(self):
        for line in self.process.stderr:
            line = line.rstrip("\n")
            print(f"agent: {line}", flush=True)
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()
        with self.changed:
            self.changed.notify_all()

    def mark(self):
        with self.changed:
            return len(self.lines)

    def wait_for_log(self, text, start, timeout=PAGE_WAIT_S):
        """The log lines from index `start` on up to the first that ends with `text`, or None."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                lines = [line.split(" > ", 1)[-1] for line in self.lines[start:]]
                if text in lines:
                    return lines[:lines.index(text) + 1]
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.process.poll() is not None:
                    return None
                self.changed.wait(min(remaining, 1))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(QUIT_WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.collector.join()
        self.process.stderr.close()
        if self.process.returncode != 0:
            raise AssertionError(f"the agent ended with status {self.process.returncode}")


class SimulationTest(BrowserTest):
    screenshot_prefix = "simulation"

    @classmethod
    def start_class(cls, stack):
        cls.agent = Agent(webtest.ARGS.host_program)
        stack.callback(cls.agent.stop)
        base = start_web_server(stack, webtest.ARGS.web_dir, {"/listener.html": LISTENER})
        cls.demo_url = f"{base}/index.html?host=127.0.0.1"
        cls.listener_url = f"{base}/listener.html"
        cls.driver = start_browser(stack)

    def fill(self, element_id, value):
        self.driver.execute_script(
            "document.getElementById(arguments[0]).value = arguments[1]", element_id, value)

    def events_seen(self):
        return self.driver.execute_script(
            "return [...document.querySelectorAll('#log li.entry[data-kind=event]')]"
            ".map(e => e.querySelector('.summary').textContent).reverse()")

    def open_demo_page(self):
        self.driver.get(self.demo_url)
        self.wait_until("the simulation panel",
                        lambda: self.driver.find_element("id", "simulation").is_displayed())
        self.assertEqual(self.text("version"), webtest.ARGS.agent_version)

    def click_and_hear(self, button, summary):
        self.driver.find_element("id", button).click()
        self.wait_until(summary, lambda: summary in self.events_seen())

    def test_demo_page_drives_the_simulator_and_another_page_hears_it(self):
        demo_tab = self.driver.current_window_handle
        self.driver.switch_to.new_window("tab")
        self.driver.get(self.listener_url)
        self.wait_until("the listener's connection",
                        lambda: self.driver.execute_script("return window.opened"))
        self.driver.switch_to.window(demo_tab)
        self.open_demo_page()
        start = self.agent.mark()

        self.fill("sim-label", "Kassa 2 (COM7)")
        self.click_and_hear("sim-reader", "card reader attached: Kassa 2 (COM7)")
        self.assertEqual(self.text("reader-state"), "attached: Kassa 2 (COM7)")
        # Beyond 2^53 the digits survive only as text, end to end.
        self.fill("sim-card-number", "9223372036854775807")
        self.click_and_hear("sim-card", "card 9223372036854775807")
        self.fill("sim-callin-number", "0212345678")
        self.click_and_hear("sim-callin", "incoming call: 0212345678")
        self.click_and_hear("sim-unreader", "card reader lost")

        lines = self.agent.wait_for_log(agent_texts.text("DeviceTexts::kOfflineText"), start)
        self.assertIsNotNone(lines, "the agent never logged the loss")
        service_lines = (agent_texts.before_arguments("ServiceTexts::kRequestLine"),
                         agent_texts.before_arguments("ServiceTexts::kConnected"))
        device_lines = [logged for logged in lines if not logged.startswith(service_lines)]
        self.assertEqual(device_lines, [
            agent_texts.line("DeviceTexts::kAttachedText", "Kassa 2 (COM7)"),
            agent_texts.line("DeviceTexts::kBeyondFramesText", "9223372036854775807"),
            agent_texts.line("DeviceTexts::kCallText", "0212345678"),
            agent_texts.text("DeviceTexts::kOfflineText")])
        self.assertIn(agent_texts.line("SimulationTexts::kReaderSimulated", "Kassa 2 (COM7)"),
                      " ".join(lines))

        self.driver.switch_to.window(self.driver.window_handles[-1])
        self.wait_until("the listener's events", lambda: len(
            self.driver.execute_script("return window.heard")) == 4)
        self.assertEqual(self.driver.execute_script("return window.heard"), [
            ["reader", "Kassa 2 (COM7)"], ["card", "9223372036854775807"],
            ["callin", "0212345678"], ["unreader"]])
        self.driver.close()
        self.driver.switch_to.window(demo_tab)

    def test_card_the_reader_cannot_take_is_refused_by_the_page(self):
        self.open_demo_page()
        for number in ("12x", "9223372036854775808", ""):
            with self.subTest(number=number):
                sent_before = self.driver.execute_script(
                    "return document.querySelectorAll('#log li.entry[data-kind=sent]').length")
                self.fill("sim-card-number", number)
                self.driver.find_element("id", "sim-card").click()
                self.assertIn("Nothing was sent", self.text("sim-error"))
                self.assertEqual(self.driver.execute_script(
                    "return document.querySelectorAll('#log li.entry[data-kind=sent]').length"),
                    sent_before)

    # The library refuses, without sending, what the agent could not take; the version tells
    # the mode; the smallest card is sent exactly.
    def test_library_checks_card_numbers_and_reports_the_mode(self):
        self.driver.get(self.listener_url)
        self.wait_until("the connection", lambda: self.driver.execute_script("return window.opened"))
        outcome = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            const settle = (promise) => promise.then((value) => ["resolved", value],
                                                     (error) => ["rejected", error.name]);
            (async () => {
              const version = await window.agent.version();
              const results = [];
              for (const number of [1.5, 2n ** 63n, "1e3", 2 ** 53, {}])
                results.push(await settle(window.agent.simulate.card(number)));
              await window.agent.simulate.reader("R (COM1)");
              results.push(await settle(window.agent.simulate.card(-(2n ** 63n))));
              await window.agent.simulate.unreader();
              done({ simulated: version.simulated, results });
            })().catch((error) => done({ error: String(error) }));
        """)
        self.assertEqual(outcome, {"simulated": True, "results": [
            ["rejected", "TypeError"], ["rejected", "RangeError"], ["rejected", "TypeError"],
            ["rejected", "TypeError"], ["rejected", "TypeError"], ["resolved", None]]})
        self.wait_until("the smallest card", lambda: ["card", "-9223372036854775808"] in
                        self.driver.execute_script("return window.heard"))


if __name__ == "__main__":
    sys.exit(webtest.main(__doc__.splitlines()[0]))
