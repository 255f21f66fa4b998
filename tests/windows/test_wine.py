#!/usr/bin/python3
"""The Windows program on Wine, in a network namespace and a Wine prefix of its own.

  test_wine.py desk --build-dir DIR --source-dir DIR
      The installer, the installed agent (ws, wss, printers, printing to a private spooler,
      caller ID through the stand-in library, the lock-down options, an upgrade over a
      running install, how it ends) and the silent uninstall.
  test_wine.py qt-tests --build-dir DIR --source-dir DIR
      Every Qt Test program of the Windows build, those that print with a private spooler.
  test_wine.py signatures --build-dir DIR
      The Authenticode signatures of the installer and of the programs in the program
      folder and the portable zip (osslsigncode, no Wine).
Prints one line per check and "N passed, N failed" last; fails if any check failed. Exits
with 77 (skipped) where this computer cannot run Wine's 32-bit programs.
"""
import argparse
import glob
import json
import os
import re
import select
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty
import zipfile

import websocket

# The agent's texts come from its C++ headers, through tests/support/agent_texts.py.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
import agent_texts  # noqa: E402

APP_DIR = r"C:\Program Files\Kiv3 Device Proxy"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kiv3DeviceProxy"
PRIVATE_ADDRESS = "10.200.0.1"
ALLOWED = "https://pos.example"
FONT_SUBSTITUTES_KEY = (r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
                        r"\FontSubstitutes")
CHINESE_TRUETYPE_FONT = "/usr/share/fonts/truetype/arphic/uming.ttc"
# The Traditional Chinese families that Windows in Taiwan ships, which documents and Qt's
# font fallback for Han characters name.
TAIWAN_FONT_FAMILIES = ("Microsoft JhengHei", "PMingLiU", "MingLiU")
WINE_FONT_REPLACEMENTS_KEY = r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements"
SKIPPED = 77
RESULTS = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    RESULTS["passed" if ok else "failed"] += 1
    print(f"{'ok  ' if ok else 'FAIL'} {name}" + (f": {detail}" if detail and not ok else ""),
          flush=True)
    return ok


def in_namespace():
    """Runs the script again in a network namespace of its own with loopback up."""
    if os.environ.get("KIV3_WINE_NAMESPACE") == "1":
        return
    os.environ["KIV3_WINE_NAMESPACE"] = "1"
    os.execvp("unshare", ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                          sys.executable, *sys.argv])


def kernel_runs_32_bit_code():
    """Wine's 32-bit programs need a kernel that runs 32-bit code; some hosts have it off, and
    then the kernel refuses Wine's loader as an unknown format. Any other failure of Wine is
    left to fail the test."""
    result = subprocess.run(["wine", "--version"], capture_output=True, text=True)
    refused = result.returncode != 0 and "Exec format error" in result.stderr + result.stdout
    if refused:
        print(f"skip: this kernel runs no 32-bit programs: {result.stderr.strip()[-300:]}")
    return not refused


def project_version(build_dir):
    """The version that the build wrote into the programs and the installer."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        return re.search(r"^CMAKE_PROJECT_VERSION:\w+=(.*)$", cache.read(), re.M).group(1)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    """A fresh prefix whose wineserver starts here, in the namespace, with a display."""

    def __init__(self, work):
        self.prefix = os.path.join(work, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        read_end, write_end = os.pipe()
        # Its output goes nowhere: an inherited pipe would outlive the test otherwise.
        self.display = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten",
                                         "tcp"], pass_fds=(write_end,),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        try:
            with os.fdopen(read_end) as displays:
                self.env["DISPLAY"] = ":" + displays.readline().strip()
            self.run("wineboot", "-i")
            self.use_truetype_chinese_font()
        except BaseException:
            self.display.kill()
            raise

    def use_truetype_chinese_font(self):
        # Wine's PostScript driver downloads glyphs from TrueType outlines only, and Debian's
        # Noto CJK fonts are CFF: the families of a Taiwanese desk are mapped to a TrueType
        # one, both where Windows maps a family (FontSubstitutes, for fonts asked for by
        # name) and as families that font enumeration lists (Wine's replacements), which
        # Qt's fallback for Han characters picks from.
        shutil.copy(CHINESE_TRUETYPE_FONT, os.path.join(self.prefix, "drive_c", "windows",
                                                        "Fonts"))
        families = "".join(f'"{family}"="AR PL UMing TW"\n' for family in TAIWAN_FONT_FAMILIES)
        self.import_registry(f"[{FONT_SUBSTITUTES_KEY}]\n{families}\n"
                             f"[{WINE_FONT_REPLACEMENTS_KEY}]\n{families}")
        self.run("wineserver", "-w")

    def run(self, *command, timeout=300, extra_env=None, **options):
        program = [] if command[0] in ("wineboot", "wineserver") else ["wine"]
        return subprocess.run(program + list(command), env=dict(self.env, **(extra_env or {})),
                              timeout=timeout, capture_output=True, text=True,
                              errors="replace", **options)

    def start(self, *command, **options):
        return subprocess.Popen(["wine", *command], env=self.env, text=True, errors="replace",
                                **options)

    def unix_path(self, path):
        assert path[:2].upper() == "C:"
        return os.path.join(self.prefix, "drive_c", path[3:].replace("\\", "/"))

    def reg_values(self, key):
        result = self.run("reg", "query", key)
        if result.returncode != 0:
            return None
        return dict(re.findall(r"^\s{4}(\S+)\s+REG_\w+\s+(.*)$", result.stdout, re.M))

    def import_registry(self, text):
        path = os.path.join(self.prefix, "kiv3-import.reg")
        with open(path, "w") as reg_file:
            reg_file.write("REGEDIT4\n\n" + text)
        self.run("regedit", "/S", windows_path(path))

    def close(self):
        self.run("wineserver", "-k")
        self.display.kill()


# What Windows registers for a USB-serial adapter: the device under the bus's enumeration
# key, of the Ports class, with its description, and its COM port under its parameters;
# the serial driver names the port in SERIALCOMM too. SetupAPI and Qt's port enumeration
# read these (ClassGUID, DeviceDesc, "Device Parameters"\PortName).
ENUM_KEY = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USB"
SERIALCOMM_KEY = r"HKEY_LOCAL_MACHINE\Hardware\DeviceMap\SerialComm"
PORTS_CLASS = "{4d36e978-e325-11ce-bfc1-08002be10318}"
READER_QUERY = bytes.fromhex("7e04ff18182f")
READER_PROBE_ANSWER = bytes.fromhex("7e0a0009")


def card_frame(number):
    """A short-form card frame carrying a 32-bit card number."""
    return bytes.fromhex("7e0a0003ff") + struct.pack(">i", number) + b"\0"


class SimulatedReader:
    """A card reader on a pseudo-terminal whose master side a thread of its own drives."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.queries = 0
        self.plugged = True
        self.thread = threading.Thread(target=self.answer_queries, daemon=True)
        self.thread.start()

    def answer_queries(self):
        received = b""
        while self.plugged:
            if not select.select([self.master], [], [], 0.1)[0]:
                continue
            try:
                received += os.read(self.master, 256)
            except OSError:
                return
            while READER_QUERY in received:
                received = received.split(READER_QUERY, 1)[1]
                self.queries += 1
                os.write(self.master, READER_PROBE_ANSWER)

    def send(self, frame):
        os.write(self.master, frame)

    def unplug(self):
        self.plugged = False
        self.thread.join()
        os.close(self.master)
        os.close(self.slave)


class UsbSerialAdapter:
    """A USB-serial adapter as Wine's device registry lists it. Its COM port is a simulated
    reader, or, without one, a port whose device is gone, which cannot be opened."""

    def __init__(self, wine, port, description, hardware_id, with_reader=True):
        self.wine, self.port, self.description = wine, port, description
        self.key = f"{ENUM_KEY}\\{hardware_id}\\{port}"
        # The driver's device name, escaped as .reg files write a value's name.
        self.serialcomm_name = rf"\\Device\\Kiv3Serial{port[3:]}"
        self.reader = SimulatedReader() if with_reader else None
        self.link = os.path.join(wine.prefix, "dosdevices", port.lower())
        os.symlink(self.reader.path if self.reader else os.path.join(wine.prefix, "gone"),
                   self.link)
        wine.import_registry(f"""[{self.key}]
"ClassGUID"="{PORTS_CLASS}"
"Class"="Ports"
"DeviceDesc"="{description}"
"FriendlyName"="{description} ({port})"

[{self.key}\\Device Parameters]
"PortName"="{port}"

[{SERIALCOMM_KEY}]
"{self.serialcomm_name}"="{port}"
""")

    def label(self):
        return f"{self.description} ({self.port})"

    def unplug(self):
        """As Windows sees an adapter pulled out: its entries go, and its line goes dead."""
        self.wine.import_registry(f"""[-{self.key}]

[{SERIALCOMM_KEY}]
"{self.serialcomm_name}"=-
""")
        os.unlink(self.link)
        if self.reader:
            self.reader.unplug()


def connect(url, origin=None, timeout=10):
    options = {"origin": origin} if origin else {"suppress_origin": True}
    return websocket.create_connection(url, timeout=timeout,
                                       sslopt={"cert_reqs": ssl.CERT_NONE}, **options)


def ask(url, message="", origin=None):
    client = connect(url, origin)
    try:
        client.send(message)
        return json.loads(client.recv())
    finally:
        client.close()


def close_code(url, origin):
    """The close code the agent ends a connection from this origin with (None if served)."""
    client = connect(url, origin)
    try:
        client.send("")
        frame = client.recv_frame()
        if frame.opcode == websocket.ABNF.OPCODE_CLOSE:
            return struct.unpack("!H", frame.data[:2])[0]
        return None
    except (OSError, websocket.WebSocketException) as error:
        return repr(error)
    finally:
        client.close()


class Agent:
    """The installed agent, started with its autostart command; its log is standard error."""

    def __init__(self, wine, work, name):
        command = wine.reg_values(RUN_KEY)["Kiv3DeviceProxy"]
        program, options = re.match(r'"([^"]+)"(.*)', command).groups()
        self.log_path = os.path.join(work, name + ".log")
        self.log_file = open(self.log_path, "w")
        self.process = wine.start(program, *options.split(), stderr=self.log_file,
                                  stdout=subprocess.DEVNULL)

    def log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as log:
            return log.read()

    def wait_for_log(self, text, timeout=60):
        deadline = time.monotonic() + timeout
        while text not in self.log() and time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            time.sleep(0.2)
        return text in self.log()

    def wait_serving(self, url="ws://127.0.0.1:54389", timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                connect(url).close()
                return True
            except OSError:
                time.sleep(0.3)
        return False


class Spooler:
    def __init__(self, script, queues):
        self.script = script
        exports = subprocess.run([script, "start", *queues], check=True, capture_output=True,
                                 text=True).stdout
        self.values = dict(re.findall(r"^export (\w+)='?([^'\n]*)'?$", exports, re.M))

    def pdfs(self, queue, count, timeout=90):
        subprocess.run([self.script, "wait-pdfs", self.values["PCUPS_DIR"], queue, str(count),
                        str(timeout)], capture_output=True)
        return sorted(glob.glob(os.path.join(self.values["PCUPS_OUT"], queue, "*.pdf")))

    def stop(self):
        subprocess.run([self.script, "stop", self.values["PCUPS_DIR"]], capture_output=True)


def page_count(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
    return int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))


def pdf_text(pdf):
    return subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True).stdout


def page_size_mm(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True).stdout
    width, height = re.search(r"Page size:\s+([\d.]+) x ([\d.]+) pts", info).groups()
    return round(float(width) * 25.4 / 72), round(float(height) * 25.4 / 72)


def dark_pixels_in_box_mm(pdf, left, top, right, bottom, dpi=100):
    """How many pixels of a box of the first page, rendered in grey, are dark."""
    grey = subprocess.run(["pdftoppm", "-gray", "-r", str(dpi), "-f", "1", "-l", "1", pdf],
                          capture_output=True).stdout
    header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+255\s", grey)
    if not header:
        return 0
    width = int(header.group(1))
    pixels = grey[header.end():]

    def dots(mm):
        return int(mm * dpi / 25.4)

    return sum(value < 128 for row in range(dots(top), dots(bottom))
               for value in pixels[row * width + dots(left):row * width + dots(right)])


PAGE_DOCUMENT = {
    "printer": "Kassa", "docname": "label", "papersize": 9,
    "pages": [[{"method": "rect", "x": 10, "y": 10, "w": 40, "h": 20},
               {"method": "text", "x": 10, "y": 35, "w": 80, "h": 20, "text": "收據測試"}]]}
ROW_DOCUMENT = {
    "printer": "Receipt", "doctype": "rowbase", "docname": "receipt", "width": 80,
    "rs": [{"cs": {"text": "收據 Receipt"}}, {"cs": {"text": "合計 2325.00", "align": "right"}}]}


def print_document(document):
    request = {"id": "p", "method": "print.print", "data": document}
    return ask("ws://127.0.0.1:54389", json.dumps(request, ensure_ascii=False))


def check_outcomes():
    """What a page that asks for outcomes learns, without printing: the desk's prints below
    count their PDFs."""
    url = "ws://127.0.0.1:54389"
    reply = ask(url, '{"id":"g","method":"print.getprinters","outcome":true}')
    check("printer list as an outcome",
          reply.get("g", {}).get("ok") is True and
          sorted(reply["g"].get("printers", [])) == ["Kassa", "Receipt"], f"{reply}")
    request = {"id": "u", "method": "print.print", "outcome": True,
               "data": {"printer": "Nowhere"}}
    reply = ask(url, json.dumps(request))
    check("unknown printer's outcome", reply == {"u": {
        "ok": False, "code": "invalid-printer",
        "message": agent_texts.line("ServiceTexts::kInvalidPrinter", "Nowhere")}}, f"{reply}")
    reply = ask(url, '{"id":"s","method":"print.getprinterstatus"}')
    names = sorted(printer.get("name") for printer in reply.get("s", []))
    keys = {key for printer in reply.get("s", []) for key in printer}
    check("printer states", names == ["Kassa", "Receipt"] and keys == {
        "name", "default", "state", "reasons", "accepting", "custompaper"}, f"{reply}")


def reachable(address):
    try:
        with socket.create_connection((address, 54389), timeout=5):
            return True
    except OSError:
        return False


def signing_certificate(build_dir):
    """The certificate the build was signed with (tools/build-windows.sh --sign), or None."""
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        found = re.search(r"^KIV3_SIGN_CERT:\w+=(.+)$", cache.read(), re.M)
    return found.group(1) if found else None


def check_signed(name, path, certificate):
    """Authenticode with SHA-256 that verifies against the build's certificate."""
    if not certificate:
        return check(f"{name} signed", False, "the build is unsigned (build-windows.sh --sign)")
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path],
                            capture_output=True, text=True)
    ok = (result.returncode == 0 and "Signature verification: ok" in result.stdout and
          re.search(r"^Message digest algorithm\s*: SHA256$", result.stdout, re.M))
    return check(f"{name} signed (Authenticode, SHA-256)", bool(ok),
                 (result.stdout + result.stderr)[-500:])


def signatures(args):
    certificate = signing_certificate(args.build_dir)
    setup = glob.glob(os.path.join(args.build_dir, "kiv3-device-proxy-*-setup.exe"))[0]
    check_signed("installer", setup, certificate)
    stage = os.path.join(args.build_dir, "stage", "kiv3-device-proxy")
    for program in ("kiv3-device-proxy.exe", "kiv3-render.exe"):
        check_signed(f"program folder: {program}", os.path.join(stage, program), certificate)
    portable = glob.glob(os.path.join(args.build_dir, "kiv3-device-proxy-*-windows.zip"))[0]
    work = tempfile.mkdtemp(prefix="kiv3-signatures-")
    try:
        with zipfile.ZipFile(portable) as archive:
            program = archive.extract("kiv3-device-proxy/kiv3-device-proxy.exe", work)
        check_signed("portable zip: kiv3-device-proxy.exe", program, certificate)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def install(wine, setup, *options):
    result = wine.run(setup, "/S", *options)
    return check(f"silent install {' '.join(options)}".strip(), result.returncode == 0,
                 result.stderr[-500:])


def check_installed(wine, expected_options, version):
    app = wine.unix_path(APP_DIR)
    missing = [name for name in ("kiv3-device-proxy.exe", "kiv3-render.exe", "uninstall.exe",
                                 "Qt5Core.dll", "libssl-3.dll", "libcrypto-3.dll",
                                 "platforms/qwindows.dll",
                                 "printsupport/windowsprintersupport.dll")
               if not os.path.exists(os.path.join(app, name))]
    check("program folder complete", not missing, f"missing {missing}")
    shortcut = wine.unix_path(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
                              r"\Quor Kiv3 Device Proxy.lnk")
    check("Start-menu entry", os.path.exists(shortcut))
    run = (wine.reg_values(RUN_KEY) or {}).get("Kiv3DeviceProxy")
    expected = f'"{APP_DIR}\\kiv3-device-proxy.exe"{expected_options}'
    check("Run key holds the autostart command", run == expected, f"{run!r} != {expected!r}")
    values = wine.reg_values(UNINSTALL_KEY) or {}
    wanted = {"DisplayName": "Quor Kiv3 Device Proxy", "DisplayVersion": version,
              "Publisher": "Quor", "UninstallString": f'"{APP_DIR}\\uninstall.exe"',
              "QuietUninstallString": f'"{APP_DIR}\\uninstall.exe" /S'}
    wrong = {k: values.get(k) for k, v in wanted.items() if values.get(k) != v}
    check("Uninstall key for Apps & features", not wrong, f"{wrong}")


def serve_open_agent(wine, work, spooler, calls, version):
    agent = Agent(wine, work, "agent-open")
    if not check("agent serves", agent.wait_serving(), agent.log()[-800:]):
        return agent
    check("log: started", agent_texts.text("AppTexts::kStarted") in agent.log(),
          agent.log()[-400:])
    check("log: stand-in AD101Device.dll loaded (no init-failure line)",
          agent_texts.text("DeviceTexts::kInitFailedText") not in agent.log(), agent.log()[-400:])
    for url in ("ws://127.0.0.1:54389", "wss://localhost:54390"):
        reply = ask(url)
        check(f"version over {url.split(':')[0]}", reply.get("version") == version and
              bool(reply.get("device")), f"{reply}")

    def tls_served(version):
        """Whether the agent completes a handshake offered this TLS version alone, by a
        client that would take any version and suite."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        context.set_ciphers("ALL:@SECLEVEL=0")
        context.minimum_version = context.maximum_version = version
        try:
            with context.wrap_socket(socket.create_connection(("127.0.0.1", 54390), 10)):
                return True
        except (OSError, ssl.SSLError):
            return False
    served = [tls_served(v) for v in (ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1,
                                      ssl.TLSVersion.TLSv1_2)]
    check("TLS 1.0 and 1.1 refused, 1.2 served", served == [False, False, True], f"{served}")
    reply = ask("ws://127.0.0.1:54389", '{"id":"g","method":"print.getprinters"}')
    check("printers of the private spooler", sorted(reply.get("g", [])) == ["Kassa", "Receipt"],
          f"{reply}")
    check_outcomes()
    check("any origin admitted without options",
          close_code("ws://127.0.0.1:54389", "https://elsewhere.example") is None)
    check("reachable on a non-loopback address without --local-only", reachable(PRIVATE_ADDRESS))

    listener = connect("ws://127.0.0.1:54389")
    with open(os.path.join(calls, "1.call"), "w") as call:
        call.write("0912345678\n")
    listener.settimeout(20)
    try:
        event = json.loads(listener.recv())
    except (websocket.WebSocketTimeoutException, ValueError) as error:
        event = str(error)
    listener.close()
    check("caller-ID event from the stand-in library", event == {"callin": "0912345678"},
          f"{event}")
    check("log: incoming call",
          agent_texts.line("DeviceTexts::kCallText", "0912345678") in agent.log())

    # Page-based first: the row-based receipt is the one that has brought the agent down.
    check("page-based document answered", print_document(PAGE_DOCUMENT) == {"p": None})
    pdfs = spooler.pdfs("Kassa", 1)
    size = page_size_mm(pdfs[0]) if pdfs else None
    # Within a millimetre: the queue's PPD rounds A5 to whole points.
    check("page-based document arrives at its paper size, A5",
          bool(size) and abs(size[0] - 148) <= 1 and abs(size[1] - 210) <= 1, f"{size}")
    # Its text item, in the default font, falls back to a family of a Taiwanese desk.
    # A blank box has no dark pixel at 100 dpi; four glyphs of the default size, dozens.
    ink = dark_pixels_in_box_mm(pdfs[0], 10, 35, 90, 55) if pdfs else 0
    check("page-based text in the default font shows ink", ink >= 30, f"{ink} dark pixels")
    try:
        answered = print_document(ROW_DOCUMENT) == {"p": None}
    except (OSError, websocket.WebSocketException) as error:
        answered = False
        print(f"     row-based print: {error!r}; agent status {agent.process.poll()}")
    check("row-based receipt answered", answered, agent.log()[-400:])
    pdfs = spooler.pdfs("Receipt", 1)
    # Wine's PostScript driver turns every custom paper size into the queue's first size that
    # Windows has no number for, so a receipt's own size cannot arrive here; its content can.
    # Extractors space CJK glyphs by their advance widths, which depend on the font that
    # the prefix maps: the text is compared without white space.
    text = pdf_text(pdfs[0]) if pdfs else ""
    glyphs = "".join(text.split())
    check("row-based receipt arrives as one page with its Chinese text",
          page_count(pdfs[0]) == 1 and "收據Receipt" in glyphs and "合計2325.00" in glyphs,
          f"{text!r}")
    return agent


def next_event(page, timeout=20):
    page.settimeout(timeout)
    try:
        return json.loads(page.recv())
    except (OSError, websocket.WebSocketException, ValueError) as error:
        return repr(error)


def check_reader_attached(adapter, pages, agent):
    """Attach event with the label, a card to every page, the unplug and its event."""
    label = adapter.label()
    check(f"reader event with its label to every page ({label})",
          all(next_event(page) == {"reader": label} for page in pages))
    check("log: reader attached",
          agent_texts.line("DeviceTexts::kAttachedText", label) in agent.log())
    adapter.reader.send(card_frame(305419896))
    check("card event to every page",
          all(next_event(page) == {"card": 305419896} for page in pages))
    adapter.unplug()
    check("unplugged: unreader event to every page",
          all(next_event(page) == {"unreader": None} for page in pages))
    check("log: reader offline",
          agent.wait_for_log(agent_texts.text("DeviceTexts::kOfflineText"), 10))


def check_card_reader_ports(wine, agent):
    """The reader's adapters as Windows lists them. A USB-serial port is probed with the
    reader's query; a Freescale port, whose device is gone here, gets the exclusive
    test-open first, which fails, and then the serial open, which fails too."""
    pages = [connect("ws://127.0.0.1:54389"), connect("wss://localhost:54390")]
    reader = UsbSerialAdapter(wine, "COM7", "USB-Serial Controller", "VID_067B&PID_2303")
    gone = UsbSerialAdapter(wine, "COM8", "Freescale CDC Device", "VID_15A2&PID_0300",
                            with_reader=False)
    try:
        deadline = time.monotonic() + 20
        while reader.reader.queries == 0 and time.monotonic() < deadline:
            time.sleep(0.2)
        check("USB-serial adapter listed with its description and sent the reader's query",
              reader.reader.queries > 0, agent.log()[-600:])
        # Wine's serial driver ends every comm-event wait at once where the line has no
        # modem status, as a pseudo-terminal has none, so replies reach Qt on Windows only
        # where that works; the attached reader's course is checked where it does.
        if agent.wait_for_log(agent_texts.after_arguments("DeviceTexts::kAttachedText"), 5):
            check_reader_attached(reader, pages, agent)
        else:
            lines = [line for line in agent.log().splitlines() if "COM7" in line or
                     "讀卡機" in line]
            print(f"     COM7 probed, not attached on this Wine: {lines[-2:]}", flush=True)
        check("log: exclusive test-open of a Freescale port that cannot be opened",
              agent.wait_for_log("CreateFile Failed ", 20) and
              re.search(r"CreateFile Failed \d+$", agent.log(), re.M) is not None,
              agent.log()[-600:])
        check("log: ... then its serial open fails",
              agent_texts.line("DeviceTexts::kOpenFailedText", "COM8", "") in agent.log())
    finally:
        for page in pages:
            page.close()
        for adapter in (reader, gone):
            if os.path.lexists(adapter.link):
                adapter.unplug()


def check_installed_signatures(wine, build_dir):
    certificate = signing_certificate(build_dir)
    for program in ("kiv3-device-proxy.exe", "kiv3-render.exe", "uninstall.exe"):
        check_signed(f"installed {program}",
                     os.path.join(wine.unix_path(APP_DIR), program), certificate)


def serve_locked_agent(wine, work):
    agent = Agent(wine, work, "agent-locked")
    if not check("locked-down agent serves", agent.wait_serving(), agent.log()[-800:]):
        return agent
    check("--allow-origin admits its origin",
          close_code("ws://127.0.0.1:54389", ALLOWED) is None)
    check("--allow-origin closes other origins with 1008",
          close_code("ws://127.0.0.1:54389", "https://elsewhere.example") == 1008)
    check("--local-only: no answer on a non-loopback address", not reachable(PRIVATE_ADDRESS))
    return agent


def end_agent(wine, agent):
    # As Windows asks a program to end (taskkill without /F, logoff): a close message to each
    # of its top-level windows, never a forced kill.
    wine.run("taskkill", "/IM", "kiv3-device-proxy.exe")
    try:
        status = agent.process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        status = "still running after 30 s"
    check("taskkill without /F ends the agent with status 0", status == 0, f"{status}")


def desk(args):
    work = tempfile.mkdtemp(prefix="kiv3-wine-")
    # A non-loopback address: a pair of virtual interfaces, as the kernel may lack dummies.
    for command in (["link", "add", "kiv3-test", "type", "veth", "peer", "name", "kiv3-peer"],
                    ["link", "set", "kiv3-test", "up"], ["link", "set", "kiv3-peer", "up"],
                    ["addr", "add", PRIVATE_ADDRESS + "/24", "dev", "kiv3-test"]):
        subprocess.run(["ip", *command], check=True)
    spooler = Spooler(os.path.join(args.source_dir, "tools", "private-cups.sh"),
                      ["Kassa", "Receipt"])
    os.environ["CUPS_SERVER"] = spooler.values["CUPS_SERVER"]
    calls = os.path.join(work, "calls")
    os.mkdir(calls)
    os.environ["KIV3_FAKE_AD101_CALLS"] = windows_path(calls)
    wine = Wine(work)
    setup = glob.glob(os.path.join(args.build_dir, "kiv3-device-proxy-*-setup.exe"))[0]
    version = project_version(args.build_dir)
    try:
        install(wine, setup)
        check_installed(wine, "", version)
        shutil.copy(os.path.join(args.build_dir, "tests", "support", "libkiv3_fake_ad101.dll"),
                    os.path.join(wine.unix_path(APP_DIR), "AD101Device.dll"))
        check_installed_signatures(wine, args.build_dir)
        agent = serve_open_agent(wine, work, spooler, calls, version)
        if agent.process.poll() is None:
            check_card_reader_ports(wine, agent)

        # An upgrade over the running install, now locked down.
        install(wine, setup, f"/ALLOWORIGIN={ALLOWED},http://localhost:8000", "/LOCALONLY")
        check("upgrade ended the running agent", agent.process.wait(timeout=30) is not None)
        check_installed(wine, f" --allow-origin {ALLOWED} --allow-origin http://localhost:8000"
                              " --local-only", version)
        agent = serve_locked_agent(wine, work)
        end_agent(wine, agent)

        wine.run(wine.unix_path(APP_DIR + r"\uninstall.exe"), "/S")
        # The uninstaller copies itself away and returns at once; its copy does the work.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and (os.path.exists(wine.unix_path(APP_DIR)) or
                                                wine.reg_values(UNINSTALL_KEY) is not None):
            time.sleep(0.5)
        check("silent uninstall removes the program folder",
              not os.path.exists(wine.unix_path(APP_DIR)))
        check("... the Uninstall key", wine.reg_values(UNINSTALL_KEY) is None)
        check("... the Run value", "Kiv3DeviceProxy" not in (wine.reg_values(RUN_KEY) or {}))
        check("... the Start-menu entry", not glob.glob(wine.unix_path(
            r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs") + "/Quor*"))
    finally:
        wine.run("taskkill", "/F", "/IM", "kiv3-device-proxy.exe")
        wine.close()
        spooler.stop()
        shutil.rmtree(work, ignore_errors=True)


# Test functions that check a close code which the Qt client of the same Wine process never
# sees: there a close frame that arrives with the end of the connection is dropped and the
# client reports 1000. The desk test reads the agent's 1008 from a client outside Wine.
SKIPPED_ON_WINE = {
    "TestEndpoints": {"originDecidesAdmission"},
    "TestRequests": {"oversizedMessageClosesOnlyItsOwnConnection"},
}


# Test programs that print, each given the queue of a private spooler (Wine reaches CUPS
# through CUPS_SERVER).
NEEDS_PRINTER = {"TestWindowsPaper"}


def functions_to_run(wine, program, name):
    """The program's test functions less those skipped on Wine; None to run them all."""
    skipped = SKIPPED_ON_WINE.get(name)
    if not skipped:
        return None
    listed = wine.run(program, "-functions", timeout=60).stdout
    return [function for function in re.findall(r"^(\w+)\(\)$", listed, re.M)
            if function not in skipped]


def qt_tests(args):
    work = tempfile.mkdtemp(prefix="kiv3-wine-qt-")
    spooler = Spooler(os.path.join(args.source_dir, "tools", "private-cups.sh"), ["Receipt"])
    printing = {"CUPS_SERVER": spooler.values["CUPS_SERVER"]}
    wine = Wine(work)
    # Qt's DLLs and plugins (QtTest and offscreen among them) from the build's Qt prefix.
    with open(os.path.join(args.build_dir, "CMakeCache.txt")) as cache:
        qt = re.search(r"^CMAKE_PREFIX_PATH:\w+=(.*)$", cache.read(), re.M).group(1)
    stage = os.path.join(args.build_dir, "stage", "kiv3-device-proxy")
    wine.env.update(QT_QPA_PLATFORM="offscreen", QT_PLUGIN_PATH=windows_path(qt + "/plugins"),
                    WINEPATH=";".join(windows_path(p) for p in (
                        qt + "/bin", stage, os.path.join(args.build_dir, "tests", "support"))))
    try:
        for program in sorted(glob.glob(os.path.join(args.build_dir, "tests", "*",
                                                     "Test*.exe"))):
            name = os.path.basename(program)[:-4]
            report = os.path.join(work, name + ".txt")
            functions = functions_to_run(wine, program, name)
            if functions == []:
                print(f"skip {name} on Wine: {', '.join(SKIPPED_ON_WINE[name])}", flush=True)
                continue
            try:
                status = wine.run(program, "-o", windows_path(report) + ",txt",
                                  *(functions or []), timeout=240,
                                  extra_env=printing if name in NEEDS_PRINTER else None
                                  ).returncode
            except subprocess.TimeoutExpired:
                status = "timed out"
            text = open(report, errors="replace").read() if os.path.exists(report) else ""
            totals = re.search(r"^Totals: .*$", text, re.M)
            failures = "\n".join(re.findall(r"^FAIL!.*\n.*", text, re.M)[:5])
            check(f"{name} on Wine ({totals.group(0) if totals else 'no totals'})",
                  status == 0, f"status {status}\n{failures}")
    finally:
        wine.close()
        spooler.stop()
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=("desk", "qt-tests", "signatures"))
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir")
    args = parser.parse_args()
    if args.what == "signatures":
        signatures(args)
    else:
        in_namespace()
        if not kernel_runs_32_bit_code():
            sys.exit(SKIPPED)
        (desk if args.what == "desk" else qt_tests)(args)
    print(f"{RESULTS['passed']} passed, {RESULTS['failed']} failed")
    sys.exit(1 if RESULTS["failed"] else 0)


if __name__ == "__main__":
    main()
