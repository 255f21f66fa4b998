#!/usr/bin/python3
"""The client library (web/kiv3-client.js) in a real browser against the real service.

Each test imports the module into a blank page served beside it and drives a client from
scripts; the service, simulated reader and spooler are those of webtest.Host.
"""

import contextlib
import socket
import sys

import webtest
from webtest import ATTACH_WAIT_S, PAGE_WAIT_S, SPOOLER_WAIT_S, BrowserTest, Host, start_browser
# webtest has put tests/support on the path.
import agent_texts

# How the log line of a page's request begins.
REQUEST_LINE = agent_texts.before_arguments("ServiceTexts::kRequestLine")

# The library as a page would load it, and two helpers for the tests' scripts: a promise's
# outcome as plain data, and every event of a client in arrival order.
BLANK_PAGE = """<!doctype html><meta charset="utf-8"><title>kiv3-client</title>
<script type="module">
import * as kiv3 from "/kiv3-client.js";
const plain = (value) => typeof value === "bigint" ? `${value}n`
  : value instanceof Error ? {code: value.code, message: value.message,
      ...(value.state ? {state: value.state, reasons: value.reasons} : {})}
  : Array.isArray(value) ? value.map(plain)
  : value && typeof value === "object" ? Object.fromEntries(
      Object.entries(value).map(([key, item]) => [key, plain(item)]))
  : value;
window.outcome = (promise) => promise.then((value) => ({value: plain(value)}),
                                           (error) => ({error: plain(error)}));
window.record = (client) => {
  const events = [];
  for (const name of ["open", "close", "card", "callin", "reader", "unreader"])
    client.on(name, (...args) => events.push([name, ...args.map(plain)]));
  return events;
};
window.kiv3 = kiv3;
</script>"""

# Arguments end in the callback of execute_async_script.
ASYNC = "const done = arguments[arguments.length - 1];\n"


class ClientLibraryTest(BrowserTest):
    screenshot_prefix = "client-library"

    @classmethod
    def start_class(cls, stack):
        cls.host = Host(webtest.ARGS.host_program)
        stack.callback(lambda: cls.host.stop())
        cls.base = webtest.start_web_server(stack, webtest.ARGS.web_dir,
                                            {"/blank.html": BLANK_PAGE})
        cls.driver = start_browser(stack)
        cls.driver.set_script_timeout(SPOOLER_WAIT_S)

    def setUp(self):
        self.open_blank(self.driver, f"{self.base}/blank.html")

    def open_blank(self, driver, url):
        driver.get(url)
        self.wait_until("the library", lambda: driver.execute_script("return !!window.kiv3"))

    def run_async(self, script, *args, driver=None):
        return (driver or self.driver).execute_async_script(ASYNC + script, *args)

    def events(self):
        return self.driver.execute_script("return events")

    def wait_for_events(self, what, condition, timeout=PAGE_WAIT_S):
        return self.wait_until(what, lambda: condition(self.events()), timeout)

    # ---- tests -----------------------------------------------------------

    # The agent handles one request at a time; the client keeps 50 in flight on one connection
    # and must hand each reply to its own request.
    def test_fifty_requests_in_flight_get_their_own_replies(self):
        results = self.run_async("""
            const sent = [];
            const send = WebSocket.prototype.send;
            WebSocket.prototype.send = function (text) { sent.push(text); return send.call(this, text); };
            const client = kiv3.connect({host: "127.0.0.1"});
            const asked = [];
            for (let i = 0; i < 50; i++) {
              const kind = ["printers", "version", "print"][i % 3];
              asked.push(kind === "printers" ? client.printers()
                : kind === "version" ? client.version()
                : client.print({docname: `job ${i}`, pages: []}, {printer: `Nowhere ${i}`}));
            }
            const outcomes = await Promise.all(asked.map(outcome));
            WebSocket.prototype.send = send;
            client.close();
            done({outcomes, sent});
        """)
        expected = [{"value": ["PDF"]}, {"value": self.version_reply()}]
        invalid_printer = "ServiceTexts::kInvalidPrinter"
        expected += [{"error": {"code": "invalid-printer",
                                "message": agent_texts.line(invalid_printer, f"Nowhere {i}")}}
                     for i in range(2, 50, 3)]
        self.assertEqual(results["outcomes"], [expected[i % 3 if i % 3 < 2 else 2 + i // 3]
                                               for i in range(50)])
        ids = [text.split('"', 4)[3] for text in results["sent"] if text]
        self.assertEqual(len(ids), 33)
        self.assertEqual(len(set(ids)), 33, "request ids must be unique")
        self.assertEqual(results["sent"].count(""), 17, "version queries are empty messages")

    # What became of a print: the spooler's jobs, each followed until it completed, or the
    # agent's reason with the text of its log line. A print's job events reach its onJob and
    # the client's "job" handlers alike.
    def test_print_resolves_with_its_jobs_or_rejects_with_the_agents_reason(self):
        receipt = {"doctype": "rowbase", "docname": "outcome", "width": 80, "mt": 10}
        cases = [
            ("one copy", {}, 1),
            ("three copies", {"copycount": 3}, 3),
            ("no copy", {"copycount": 0}, 0),
            ("unknown printer", {"printer": "Nowhere"}, "invalid-printer"),
            ("no width", {"width": 0}, "paper-size"),
            ("page-based, refused orientation", {"doctype": "", "orientation": 2}, "orientation"),
            ("too many copies", {"copycount": 100000}, "over-limit"),
        ]
        for name, keys, expected in cases:
            with self.subTest(name):
                start = self.host.mark()
                jobs_before = len(self.host.jobs()["jobs"])
                result = self.run_async("""
                    const client = kiv3.connect({host: "127.0.0.1"});
                    const heard = [];
                    const pushed = [];
                    client.on("job", (event) => pushed.push(event));
                    const result = await outcome(client.print(arguments[0], {
                      waitForCompletion: true, onJob: (event) => heard.push(event)}));
                    client.close();
                    done({result, heard, pushed});
                """, {**receipt, **keys})
                action = self.host.wait_for_log(REQUEST_LINE, start)[-1].split(" ", 1)[1]
                if isinstance(expected, str):
                    self.assertEqual(result["result"], {"error": {"code": expected,
                                                                  "message": action}})
                    self.assertEqual(result["heard"], [])
                    continue
                jobs = [job["id"] for job in self.host.jobs()["jobs"][jobs_before:]]
                self.assertEqual(result["result"], {"value": {"ok": True, "jobs": jobs}})
                self.assertEqual(len(jobs), expected)
                self.assertEqual(result["heard"], result["pushed"])
                self.assertEqual({event["id"] for event in result["heard"]},
                                 {result["heard"][0]["id"]} if jobs else set())
                last = {event["job"]: (event["printer"], event["state"])
                        for event in result["heard"]}
                self.assertEqual(last, {job: ("PDF", "completed") for job in jobs})

    # Queues that an administrator stopped or made refuse jobs, and a printer out of paper:
    # the printer's state says so, and a print that waits for its job hears why it does not
    # complete, also when the page leaves while the agent follows the job.
    def test_queue_states_show_in_printer_status_and_in_waiting_prints(self):
        wait_ms = (SPOOLER_WAIT_S - 10) * 1000
        stopped = ("queue disable", "queue enable")
        cases = [
            # host commands before and after; the printer; its state, a reason and whether it
            # accepts jobs; how long the print waits ("close": the page leaves at the first
            # news); the error's codes, with the job's states and a reason of them
            ("ready", None, "PDF", ("idle", None, True), wait_ms, None),
            ("stopped", stopped, "PDF", ("stopped", "paused", True), 3000,
             ({"timeout"}, {"pending", "held"}, "paused")),
            ("stopped, page leaves", stopped, "PDF", ("stopped", "paused", True), "close",
             ({"closed"}, None, None)),
            ("refusing", ("queue reject", "queue accept"), "PDF", ("idle", None, False), wait_ms,
             ({"printer-failed"}, None, None)),
            ("out of paper", ("paper-out add", "paper-out remove"), "PaperOut",
             ("idle", None, True), wait_ms,
             ({"job-stopped", "job-aborted"}, {"stopped", "aborted"}, "media-empty")),
        ]
        for name, commands, queue, (state, reason, accepting), wait, failure in cases:
            with self.subTest(name):
                # The job of the row before may still print.
                self.host.wait_until_idle()
                if commands:
                    self.host.command(commands[0])
                try:
                    result = self.run_async("""
                        const [wait, document] = arguments;
                        const client = kiv3.connect({host: "127.0.0.1"});
                        const printers = await client.printerStatus();
                        const result = await outcome(client.print(document, {
                          waitForCompletion: {timeout: wait === "close" ? undefined : wait},
                          onJob: () => wait === "close" && client.close()}));
                        client.close();
                        done({printers, result});
                    """, wait, {"doctype": "rowbase", "docname": name, "printer": queue,
                                "width": 80, "mt": 10})
                finally:
                    if commands:
                        self.host.command(commands[1])
                [printer] = [p for p in result["printers"] if p["name"] == queue]
                self.assertEqual({key: printer[key] for key in ("state", "accepting")},
                                 {"state": state, "accepting": accepting})
                self.assertEqual(reason in printer["reasons"], reason is not None,
                                 printer["reasons"])
                if failure is None:
                    self.assertTrue(result["result"]["value"]["ok"])
                    continue
                codes, states, job_reason = failure
                error = result["result"]["error"]
                self.assertIn(error["code"], codes)
                if states:
                    self.assertIn(error["state"], states)
                    self.assertIn(job_reason, error["reasons"])

    # A frozen agent keeps the connection open but answers nothing. Its late replies, once it
    # runs again, must not be taken for the answers to later requests.
    def test_unanswered_requests_time_out_and_late_replies_are_ignored(self):
        self.run_async("""
            window.client = kiv3.connect({host: "127.0.0.1", timeout: 400});
            client.on("open", () => done());
        """)
        self.host.freeze()
        try:
            late = self.run_async("""
                done(await Promise.all([client.version(), client.printers(),
                                        client.print({pages: []}, {timeout: 300})].map(outcome)));
            """)
        finally:
            self.host.thaw()
        self.assertEqual([outcome["error"]["code"] for outcome in late], ["timeout"] * 3)
        self.assertIn("did not answer print.getprinters within 0.4 s", late[1]["error"]["message"])
        self.assertIn("the job may still print", late[2]["error"]["message"])

        after = self.run_async("""
            done(await Promise.all([client.version({timeout: 30000}),
                                    client.printers({timeout: 30000})].map(outcome)));
        """)
        self.assertEqual(after, [{"value": self.version_reply()},
                                 {"value": ["PDF"]}])

    # The agent killed while requests wait for it: they fail at once, the client says the agent
    # is not running while it is gone, and reconnects on its own once it is back.
    def test_requests_fail_when_the_agent_dies_and_the_client_reconnects(self):
        self.run_async("""
            window.client = kiv3.connect({host: "127.0.0.1", reconnect: {minDelay: 200, maxDelay: 1000}});
            window.events = record(client);
            client.on("open", () => done());
        """)
        self.host.freeze()
        self.driver.execute_script("""
            window.pending = Promise.all([client.printers(), client.print({pages: []}),
                                          client.version()].map(outcome));
        """)
        self.host.kill()
        dropped = self.run_async("done(await pending)")
        self.assertEqual([outcome["error"]["code"] for outcome in dropped], ["disconnected"] * 3)
        self.assertIn("no answer to print.print: the connection to the agent at "
                      "ws://127.0.0.1:54389 was lost", dropped[1]["error"]["message"])
        self.assertIn("the job may still have printed", dropped[1]["error"]["message"])

        failed = self.wait_for_events("a failed reconnection", lambda events: next(
            (e for e in events if e[0] == "close" and not e[1]["wasOpen"]), None))[1]
        self.assertEqual(failed["error"]["code"], "unreachable")
        self.assertIn("start Kiv3 Device Proxy on 127.0.0.1", failed["error"]["message"])
        self.assertLessEqual(failed["retryIn"], 1000)
        refused = self.run_async("outcome(client.printers()).then(done)")
        self.assertEqual(refused["error"]["code"], "unreachable")

        type(self).host = Host(webtest.ARGS.host_program)
        self.wait_for_events("the reconnection",
                             lambda events: [e[0] for e in events].count("open") == 2,
                             SPOOLER_WAIT_S)
        self.assertEqual(self.run_async("outcome(client.printers()).then(done)"),
                         {"value": ["PDF"]})
        self.driver.execute_script("client.close()")

    # Card numbers are 64-bit: 2^53 + 1 and 2^56 - 1 (the largest a long frame holds) would
    # come out rounded through a double.
    def test_device_events_arrive_with_card_numbers_exact(self):
        start = self.host.mark()
        label = self.host.command("plug").split(" ", 2)[2]
        try:
            self.host.wait_for_log(agent_texts.after_arguments("DeviceTexts::kAttachedText"), start,
                                   ATTACH_WAIT_S)
            self.driver.execute_script("""
                window.client = kiv3.connect({host: "localhost", tls: true});
                window.events = record(client);
            """)
            self.wait_for_events("the greeting", lambda events: len(events) == 2)
            commands = ["card 9007199254740993", "card 72057594037927935", "card -2147483647",
                        "card 0", "call 0212345678", "call"]
            # One at a time: frames sent together would make one burst, read as one card.
            for count, command in enumerate(commands, start=3):
                self.host.command(command)
                self.wait_for_events(command, lambda events, n=count: len(events) == n)
        finally:
            self.host.command("unplug")
        self.wait_for_events("the lost reader", lambda events: len(events) == 9, ATTACH_WAIT_S)
        self.assertEqual(self.events(), [
            ["open", {"url": "wss://localhost:54390"}],
            ["reader", label],
            ["card", "9007199254740993", "9007199254740993n"],
            ["card", "72057594037927935", "72057594037927935n"],
            ["card", "-2147483647", "-2147483647n"],
            ["card", "0", "0n"],
            ["callin", "0212345678"],
            ["callin", ""],
            ["unreader"],
        ])
        self.driver.execute_script("client.close()")

    # A page from a public origin reaching the agent on loopback: the browser's Local Network
    # Access checks. The address-space override makes the test server's address public, and
    # the resolver gives it two names, one of them treated as a secure context. Without
    # trusting every certificate, the same browser shows the untrusted certificate's error.
    def test_errors_name_local_network_access_and_the_untrusted_certificate(self):
        with contextlib.ExitStack() as stack:
            public = webtest.start_web_server(stack, webtest.ARGS.web_dir,
                                              {"/blank.html": BLANK_PAGE})
            port = public.rsplit(":", 1)[1]
            local = webtest.start_web_server(stack, webtest.ARGS.web_dir,
                                             {"/blank.html": BLANK_PAGE})
            driver = start_browser(stack, [
                "--host-resolver-rules=MAP *.example 127.0.0.1",
                f"--ip-address-space-overrides=127.0.0.1:{port}=public",
                f"--unsafely-treat-insecure-origin-as-secure=http://secure.example:{port}",
            ], trust_any_certificate=False)
            driver.set_script_timeout(PAGE_WAIT_S)
            attempt = """
                const client = kiv3.connect({host: arguments[0], tls: arguments[1], reconnect: false});
                const result = await outcome(client.version());
                const state = (await navigator.permissions.query({name: "loopback-network"})).state;
                done({result, state, secure: isSecureContext});
            """

            # Served over http from a public address: denied without asking.
            self.open_blank(driver, f"http://public.example:{port}/blank.html")
            plain = self.run_async(attempt, "localhost", False, driver=driver)
            self.assertEqual((plain["secure"], plain["state"]), (False, "denied"))
            self.assertEqual(plain["result"]["error"]["code"], "local-network-access")
            self.assertIn("serve http://public.example:%s over https" % port,
                          plain["result"]["error"]["message"])

            # A secure public page: the browser asks; headless, nobody accepts.
            self.open_blank(driver, f"http://secure.example:{port}/blank.html")
            self.assertEqual(driver.execute_async_script(ASYNC + """
                navigator.permissions.query({name: "loopback-network"}).then(s => done(s.state));
            """), "prompt")
            unanswered = self.run_async(attempt, "localhost", False, driver=driver)
            self.assertEqual(unanswered["result"]["error"]["code"], "local-network-access")
            self.assertIn("LocalNetworkAccessAllowedForUrls", unanswered["result"]["error"]["message"])

            # What the clerk's "Allow", or an administrator's policy, gives the site.
            driver.execute_cdp_cmd("Browser.setPermission", {
                "permission": {"name": "loopback-network"}, "setting": "granted",
                "origin": f"http://secure.example:{port}"})
            allowed = self.run_async(attempt, "localhost", False, driver=driver)
            self.assertEqual((allowed["state"], allowed["result"]),
                             ("granted", {"value": self.version_reply()}))

            # A page from this computer: no permission needed; wss fails for want of trust.
            self.open_blank(driver, f"{local}/blank.html")
            untrusted = self.run_async(attempt, "127.0.0.1", True, driver=driver)
            self.assertEqual(untrusted["result"]["error"]["code"], "certificate")
            self.assertIn("open https://127.0.0.1:54390/ once and accept the warning",
                          untrusted["result"]["error"]["message"])

    def hostname(self):
        return socket.gethostname()

    def version_reply(self):
        return {"version": webtest.ARGS.agent_version, "device": self.hostname()}


if __name__ == "__main__":
    sys.exit(webtest.main(__doc__.splitlines()[0]))
