#!/usr/bin/python3
"""The demo page (web/index.html) in a real browser against the real service.

The service runs in kiv3-web-test-host (WebTestHost.cpp) with a private spooler whose default
queue "PDF" writes PDF files, a card reader on a pseudo-terminal and the stand-in caller-ID
library; the test drives those through the host's line commands. Debian's chromium, driven by
Debian's chromedriver, opens the page from a local web server. A full-page screenshot of each
test's last state is saved under --artifact-dir.
"""

import re
import socket
import sys
import time

import webtest
from webtest import (ATTACH_WAIT_S, PAGE_WAIT_S, SPOOLER_WAIT_S, BrowserTest, Host,
                     start_browser, start_web_server)
# webtest has put tests/support on the path.
import agent_texts


# The log's text for the printer list, the last request of the page's greeting. The printers'
# states are logged as this text and more.
LISTING = agent_texts.text("ServiceTexts::kPrintersListed")
# How the log line of a page's request begins.
REQUEST_LINE = agent_texts.before_arguments("ServiceTexts::kRequestLine")


def points(millimetres):
    return millimetres / 25.4 * 72


# Every log entry of the page, newest first, read in one go so that none goes stale meanwhile.
READ_LOG = """
return [...document.querySelectorAll('#log li.entry')].map(entry => ({
  kind: entry.dataset.kind, event: entry.dataset.event || '', method: entry.dataset.method || '',
  id: entry.dataset.id || '',
  summary: entry.querySelector('.summary').textContent,
  detail: (entry.querySelector('.detail') || {}).textContent || ''}));
"""

# Every print's entry, newest first, with its jobs' states.
READ_PRINTS = """
return [...document.querySelectorAll('#prints li.print')].map(entry => ({
  id: entry.dataset.id, outcome: entry.dataset.outcome,
  text: entry.querySelector('.outcome').textContent,
  detail: entry.querySelector('.detail').textContent,
  jobs: [...entry.querySelectorAll('li.job')].map(job => [job.dataset.job, job.dataset.state])}));
"""

# The printers' states as the table shows them.
READ_PRINTER_STATES = """
return [...document.querySelectorAll('#printer-states tbody tr')].map(row =>
  [row.dataset.printer, ...[...row.cells].map(cell => cell.textContent)]);
"""


class DemoPageTest(BrowserTest):
    screenshot_prefix = "demo-page"

    @classmethod
    def start_class(cls, stack):
        cls.host = Host(webtest.ARGS.host_program)
        stack.callback(lambda: cls.host.stop())
        cls.page_url = start_web_server(stack, webtest.ARGS.web_dir) + "/index.html"
        cls.driver = start_browser(stack)

    # ---- helpers ---------------------------------------------------------

    def state(self):
        return self.driver.find_element("id", "state").get_attribute("data-state")

    def log(self):
        return self.driver.execute_script(READ_LOG)

    def prints(self):
        return self.driver.execute_script(READ_PRINTS)

    def count_entries(self, kind, method):
        return sum(1 for e in self.log() if e["kind"] == kind and e["method"] == method)

    def wait_for_entry(self, what, matches, timeout=PAGE_WAIT_S):
        return self.wait_until(what, lambda: next((e for e in self.log() if matches(e)), None),
                               timeout)

    def open_page(self, host="127.0.0.1", tls=False):
        self.driver.get(f"{self.page_url}?host={host}&tls={1 if tls else 0}")
        self.wait_until("the connection", lambda: self.state() == "connected")

    # The page greets the agent with the version query, the printers' states and the printer
    # list: what comes after it, in the host's log and on the page, is the test's own.
    def open_page_greeted(self):
        start = self.host.mark()
        self.open_page()
        self.host.wait_for_log(LISTING, start, ending=True)
        self.wait_for_entry("the printer list", lambda e: e["kind"] == "reply"
                            and e["method"] == "print.getprinters")

    def printer_names(self):
        return self.driver.execute_script(
            "return [...document.getElementById('printers').options].map(o => o.value)")

    def expect_agent_and_printers(self, url):
        self.assertEqual(self.text("url"), url)
        self.wait_until("the version", lambda: self.text("version") == webtest.ARGS.agent_version)
        self.assertEqual(self.text("device"), socket.gethostname())
        self.wait_until("the printer PDF", lambda: "PDF" in self.printer_names())
        reply = self.wait_for_entry("the printer list's reply",
                                    lambda e: e["kind"] == "reply"
                                    and e["method"] == "print.getprinters")
        self.assertEqual(reply["summary"], "print.getprinters: PDF")
        self.assertRegex(reply["detail"], r"^asked at \d\d:\d\d:\d\d\.\d{3}, answered after ")

    def click(self, element_id):
        self.driver.find_element("id", element_id).click()

    def set_document(self, element_id, text):
        self.driver.execute_script(
            "document.getElementById(arguments[0]).value = arguments[1]", element_id, text)

    def wait_for_jobs(self, condition):
        deadline = time.monotonic() + SPOOLER_WAIT_S
        while True:
            jobs = self.host.jobs()
            if condition(jobs):
                return jobs
            if time.monotonic() > deadline:
                self.fail(f"the spooler never got there: {jobs}")
            time.sleep(0.5)

    # ---- tests -----------------------------------------------------------

    def test_plain_connection_shows_agent_and_printers(self):
        self.open_page()
        self.expect_agent_and_printers("ws://127.0.0.1:54389")
        self.assertEqual(self.text("reader-state"), "none")
        # Only an agent with simulated devices offers the simulation panel.
        self.assertFalse(self.driver.find_element("id", "simulation").is_displayed())

    def test_secure_connection_shows_agent_and_printers(self):
        start = self.host.mark()
        self.open_page(host="localhost", tls=True)
        self.expect_agent_and_printers("wss://localhost:54390")
        self.host.wait_for_log(agent_texts.after_arguments("ServiceTexts::kConnectedSecurely"),
                               start)

    # The document's own printer is replaced by the chosen one, so a printer that does not
    # exist in the JSON must not matter. The queue writes whole points. The print's entry
    # shows its job and follows it to the end, whether the print waits for it or not.
    def test_samples_print_on_the_chosen_printer(self):
        cases = [("page-doc", "print-page", "Demo page", (105, 148), False),
                 ("receipt-doc", "print-receipt", "Demo receipt", (80, None), True)]
        start = self.host.mark()
        self.open_page()
        # Each request's log line follows the one before: the next is this test's own.
        self.host.wait_for_log(LISTING, start, ending=True)
        self.wait_until("the printer PDF", lambda: "PDF" in self.printer_names())
        self.driver.find_element("css selector", "#printers option[value='PDF']").click()
        for textarea, button, title, (width_mm, height_mm), wait in cases:
            with self.subTest(textarea=textarea):
                if self.driver.find_element("id", "wait-completion").is_selected() != wait:
                    self.click("wait-completion")
                original = self.driver.find_element("id", textarea).get_attribute("value")
                self.assertTrue(original.startswith("{\n"))
                self.set_document(textarea, '{\n  "printer": "Nowhere",' + original[1:])
                jobs_before = len(self.host.jobs()["jobs"])
                replies_before = self.count_entries("reply", "print.print")
                start = self.host.mark()

                self.driver.find_element("id", button).click()

                self.wait_until("the print reply",
                                lambda: self.count_entries("reply", "print.print") > replies_before,
                                SPOOLER_WAIT_S)
                reply = self.log()[0]
                self.assertEqual((reply["kind"], reply["method"]), ("reply", "print.print"),
                                 "newest first")
                self.assertEqual(self.text(f"{textarea}-error"), "")
                self.assertIn(agent_texts.text("ServiceTexts::kPrinted"),
                              self.host.wait_for_log(REQUEST_LINE, start)[-1])

                jobs = self.wait_for_jobs(lambda j: len(j["jobs"]) > jobs_before
                                          and j["jobs"][-1]["state"] == "completed"
                                          and len(j["pdfs"]) >= len(j["jobs"]))
                self.assertEqual((jobs["jobs"][-1]["queue"], jobs["jobs"][-1]["title"]),
                                 ("PDF", title))
                job = str(jobs["jobs"][-1]["id"])
                outcome = ("completed", f"job {job} completed") if wait else (
                    "spooled", f"job {job} with the spooler")
                self.assertEqual(reply["summary"], f"print.print → PDF: {outcome[1]}")
                entry = self.wait_until("the job's end", lambda: next(
                    (p for p in self.prints()[:1] if p["jobs"] == [[job, "completed"]]), None))
                self.assertEqual((entry["outcome"], entry["text"]), outcome)
                pdf = jobs["pdfs"][-1]
                self.assertEqual(pdf["pages"], 1)
                self.assertAlmostEqual(pdf["widthPt"], points(width_mm), delta=1)
                if height_mm:
                    self.assertAlmostEqual(pdf["heightPt"], points(height_mm), delta=1)

    def test_bad_document_is_reported_and_nothing_is_sent(self):
        cases = [
            ("page-doc", "print-page", '{"pages": [', "Not valid JSON"),
            ("receipt-doc", "print-receipt", '[{"doctype": "rowbase"}]', "must be a JSON object"),
        ]
        start = self.host.mark()
        self.open_page()
        # Requests are handled in order: whatever reached the agent before a printer list
        # request is logged before it.
        self.host.wait_for_log(LISTING, start, ending=True)
        for textarea, button, text, reason in cases:
            with self.subTest(textarea=textarea):
                start = self.host.mark()
                listings = self.count_entries("reply", "print.getprinters")
                self.set_document(textarea, text)
                self.driver.find_element("id", button).click()
                error = self.text(f"{textarea}-error")
                self.assertIn(reason, error)
                self.assertIn("Nothing was sent", error)
                self.assertEqual(self.count_entries("sent", "print.print"), 0)

                self.driver.find_element("id", "refresh-printers").click()
                lines = self.host.wait_for_log(LISTING, start, ending=True)
                self.assertEqual([line for line in lines if line.startswith(REQUEST_LINE)],
                                 lines[-1:])
                self.wait_until("the printer list", lambda: self.count_entries(
                    "reply", "print.getprinters") > listings)

    # The agent's reason, with the text of its log line, on the print's entry and in the log.
    def test_refused_prints_show_the_agents_reason(self):
        cases = [
            ("page-doc", "print-page", '{"pages": [[]], "width": 0, "height": 0}', "paper-size"),
            ("page-doc", "print-page", '{"pages": [[]], "papersize": 0, "orientation": 2}',
             "orientation"),
            ("receipt-doc", "print-receipt",
             '{"doctype": "rowbase", "width": 80, "mt": 5, "copycount": 100000}', "over-limit"),
        ]
        self.open_page_greeted()
        for textarea, button, text, code in cases:
            with self.subTest(code):
                start = self.host.mark()
                failures = self.count_entries("error", "print.print")
                self.set_document(textarea, text)
                self.click(button)
                self.wait_until("the failure", lambda: self.count_entries(
                    "error", "print.print") > failures, SPOOLER_WAIT_S)
                action = self.host.wait_for_log(REQUEST_LINE, start)[-1].split(" ", 1)[1]
                entry = self.log()[0]
                self.assertEqual((entry["summary"], entry["detail"]),
                                 (f"print.print → default printer: failed: {code}", action))
                self.assertEqual(self.prints()[0], {
                    "id": entry["id"], "outcome": "failed", "text": f"failed: {code}",
                    "detail": action, "jobs": []})

    # The printers' states as the spooler tells them, after each change of the queue.
    def test_printer_states_follow_the_queue(self):
        cases = [
            (None, "idle", "–", "yes"),
            (("disable", "enable"), "stopped", "paused", "yes"),
            (("reject", "accept"), "idle", "–", "no"),
        ]
        self.open_page_greeted()
        for commands, state, reasons, accepting in cases:
            with self.subTest(commands=commands):
                replies = self.count_entries("reply", "print.getprinterstatus")
                if commands:
                    self.host.command(f"queue {commands[0]}")
                try:
                    self.click("refresh-printer-states")
                    self.wait_until("the printers' states", lambda: self.count_entries(
                        "reply", "print.getprinterstatus") > replies)
                    rows = self.driver.execute_script(READ_PRINTER_STATES)
                finally:
                    if commands:
                        self.host.command(f"queue {commands[1]}")
                [(name, shown, shown_state, shown_reasons, shown_accepting, _)] = rows
                self.assertEqual((name, shown, shown_state, shown_accepting),
                                 ("PDF", "PDF (default)", state, accepting))
                self.assertIn(reasons, shown_reasons)
                self.assertEqual(self.text("printer-states-error"), "")

    # The label is shown as text, never as markup. Card numbers beyond 2^53 lose digits in
    # JSON.parse; the page shows them as sent.
    def test_reader_events_show_newest_first_with_the_reader_state(self):
        self.open_page()
        description = 'USB-Serial Controller <b id="injected">"1"</b>'
        label = self.host.command(f"plug {description}").split(" ", 2)[2]
        self.assertTrue(label.startswith(description), label)
        attached = f"attached: {label}"
        try:
            self.wait_until("the attached reader", lambda: self.text("reader-state") == attached,
                            ATTACH_WAIT_S)
            # A page that connects while a reader is attached is told so at once.
            self.driver.refresh()
            self.wait_until("the greeting", lambda: self.text("reader-state") == attached)

            summaries = [f"card reader attached: {label}"]
            # One at a time: frames sent together would make one burst, read as one card.
            for command, summary in [("card 1234567890", "card 1234567890"),
                                     ("card 72057594037927935", "card 72057594037927935"),
                                     ("call 0212345678", "incoming call: 0212345678"),
                                     ("call", "incoming call: (no number)")]:
                self.host.command(command)
                self.wait_for_entry(summary, lambda e, s=summary: e["summary"] == s)
                summaries.append(summary)
        finally:
            self.host.command("unplug")
        self.wait_until("the lost reader", lambda: self.text("reader-state") == "none",
                        ATTACH_WAIT_S)
        summaries.append("card reader lost")
        events = [e["summary"] for e in self.log() if e["kind"] == "event"]
        self.assertEqual(events, summaries[::-1])
        self.assertEqual(self.driver.find_elements("id", "injected"), [])

    def test_lost_connection_is_retried_until_the_agent_is_back(self):
        self.open_page()
        self.wait_until("the version", lambda: self.text("version") == webtest.ARGS.agent_version)
        self.host.stop()
        self.wait_until("the retry countdown", lambda: re.fullmatch(
            r"disconnected – retrying in [1-3] s", self.text("state")))
        self.assertEqual((self.text("version"), self.text("reader-state")), ("–", "unknown"))
        self.wait_for_entry("the lost connection",
                            lambda e: e["kind"] == "error" and e["summary"].startswith(
                                "connection lost"))

        type(self).host = Host(webtest.ARGS.host_program)
        self.wait_until("the reconnection", lambda: self.state() == "connected", SPOOLER_WAIT_S)
        self.wait_until("the version", lambda: self.text("version") == webtest.ARGS.agent_version)

    def test_changing_the_target_stops_the_retries(self):
        self.driver.get(f"{self.page_url}?host=nowhere.invalid")
        self.wait_until("the retry countdown", lambda: self.state() == "retrying")
        self.wait_for_entry("the unreachable agent",
                            lambda e: e["summary"] == "cannot reach ws://nowhere.invalid:54389")
        self.driver.find_element("id", "tls").click()
        self.assertEqual(self.state(), "disconnected")
        self.assertEqual(self.text("state"),
                         "disconnected – press Connect to use the new settings")
        self.assertTrue(self.driver.execute_script(
            "return demo.client === null && demo.countdown === null"))

        host_field = self.driver.find_element("id", "host")
        host_field.clear()
        host_field.send_keys("localhost")
        self.driver.find_element("id", "connect").click()
        self.wait_until("the connection", lambda: self.state() == "connected")
        self.assertEqual(self.text("url"), "wss://localhost:54390")


if __name__ == "__main__":
    sys.exit(webtest.main(__doc__.splitlines()[0]))
