// Compiled with tsc --noEmit against the installed package: the declarations must describe
// the library as docs/protocol.md shows it, and refuse what it does not take.
import {
  connect, Kiv3Error, DEFAULT_TIMEOUT_MS, DEFAULT_COMPLETION_TIMEOUT_MS, type AgentVersion,
  type CloseInfo, type JobEvent, type PageDocument, type PrinterStatus, type PrintOutcome,
  type RowDocument,
} from "kiv3-client";

const agent = connect({ host: "192.168.1.20", tls: true, reconnect: { maxDelay: 10_000 } });
connect({ reconnect: false, timeout: 5_000 });

async function use(): Promise<void> {
  const { version, device }: AgentVersion = await agent.version();
  const printers: string[] = await agent.printers({ timeout: DEFAULT_TIMEOUT_MS });
  const printed: PrintOutcome | null = await agent.print({ docname: "x", pages: [] },
                                                         { printer: printers[0] });
  const jobs: number[] = printed?.jobs ?? [];
  console.log(version, device, jobs);
  await agent.print(form, {
    waitForCompletion: { timeout: DEFAULT_COMPLETION_TIMEOUT_MS },
    onJob: ({ job, state, reasons }: JobEvent) => console.log(job, state, reasons.join()),
  });
  await agent.print(receipt, { waitForCompletion: true, timeout: 10_000 });
  const [first]: PrinterStatus[] = await agent.printerStatus({ timeout: 5_000 });
  if (first && first.state !== "idle" && !first.default && first.accepting && first.custompaper)
    console.log(first.name, first.reasons.join());
  const { simulated }: AgentVersion = await agent.version();
  if (simulated) {
    const attached: null = await agent.simulate.reader("USB-Serial Controller (COM3)");
    await agent.simulate.card(9223372036854775807n);
    await agent.simulate.card("1234567890");
    await agent.simulate.card(42, { timeout: 1_000 });
    await agent.simulate.callin("0212345678");
    await agent.simulate.unreader();
    await agent.simulate.reader();
    console.log(attached);
  }
  try {
    await agent.print({ doctype: "rowbase", width: 80, rs: [] });
  } catch (error) {
    if (error instanceof Kiv3Error && error.code === "timeout") console.log(error.message);
    if (error instanceof Kiv3Error && error.code === "job-stopped" && error.state === "stopped")
      console.log(error.job, error.printer, error.reasons);
    if (error instanceof Kiv3Error && error.code === "invalid-printer") console.log(error.message);
  }
}

// Every key of both kinds of document, as the agent reads them.
const form: PageDocument = {
  printer: "PDF", docname: "form", colormode: 1, source: 0, copycount: 2, offsetx: 5, offsety: 3,
  papersize: 30, width: 105, height: 148, orientation: 1,
  pages: [[
    { method: "pen", color: "#1f5fbf" },
    { method: "font", name: "Noto Sans CJK TC", size: 11 },
    { method: "rect", x: 5, y: 5, w: 95, h: 138 },
    { method: "line", x1: 10, y1: 24, x2: 95, y2: 24 },
    { method: "text", x: 10, y: 28, w: 40, h: 7, text: "客戶", align: "right bottom", single: true,
      wordwrap: false, outbound: true },
  ], []],
};
const receipt: RowDocument = {
  doctype: "rowbase", printer: "Kassa", docname: "receipt", colormode: 0, source: 1, copycount: 1,
  offsetx: 0, offsety: 1, width: 80, mt: 4, mb: 6, rmt: 0.5, rmb: 0.5, cx: 5, cw: 70,
  cfn: "Microsoft JhengHei", cfs: 10, cc: "#000000",
  rs: [
    { mt: 1, mb: 1, cs: [{ text: "珍珠奶茶 x2", w: 45 }, { text: "70.00", x: 50, w: 25, align: "right" }] },
    { cs: { text: "合計", c: "red", fn: "Arial", fs: 12, fb: true, single: true, pt: 1, pb: 1, lt: "dash", lb: "solid" } },
    {},
  ],
};
agent.on("job", (event: JobEvent) => console.log(event.id, event.printer));

const off = agent.on("card", (number: string, value: bigint) => console.log(number, value + 1n));
off();
agent.on("callin", (number: string) => console.log(number));
agent.on("reader", (label: string) => console.log(label));
agent.on("unreader", () => console.log("lost"));
agent.on("open", ({ url }) => console.log(url));
agent.on("close", (info: CloseInfo) => console.log(info.error?.code, info.retryIn, info.wasOpen));
const state: "connecting" | "open" | "waiting" | "closed" = agent.state;
console.log(state, agent.url);
agent.close();
void use();

// @ts-expect-error: a card number is text, never a number
agent.on("card", (number: number) => number);
// @ts-expect-error: no such event
agent.on("cards", () => {});
// @ts-expect-error: print takes the document as an object
void agent.print("{}");
// @ts-expect-error: the outcome may be null, from an agent that does not report outcomes
void agent.print(form).then((outcome: PrintOutcome) => outcome);
// @ts-expect-error: a page-based document lists its pages
void agent.print({ docname: "x" });
// @ts-expect-error: no such key
void agent.print({ pages: [], papersiz: 3 });
// @ts-expect-error: a key of the other kind
void agent.print({ doctype: "rowbase", width: 80, pages: [] });
// @ts-expect-error: no such doctype
void agent.print({ doctype: "rowbas", width: 80, rs: [] });
// @ts-expect-error: a receipt needs its width
void agent.print({ doctype: "rowbase", rs: [] });
// @ts-expect-error: no such item
void agent.print({ pages: [[{ method: "circle", x: 1 }]] });
// @ts-expect-error: a text item's key of another item
void agent.print({ pages: [[{ method: "text", x1: 1 }]] });
// @ts-expect-error: text is text
void agent.print({ pages: [[{ method: "text", text: 5 }]] });
// @ts-expect-error: only the JSON literal true switches wordwrap on
void agent.print({ pages: [[{ method: "text", wordwrap: "true" }]] });
// @ts-expect-error: orientation is 0 or 1
void agent.print({ pages: [], orientation: 2 });
// @ts-expect-error: no such rule
void agent.print({ doctype: "rowbase", width: 80, rs: [{ cs: { lt: "dotted" } }] });
// @ts-expect-error: a cell's key of the document
void agent.print({ doctype: "rowbase", width: 80, rs: [{ cs: [{ cfs: 10 }] }] });
// @ts-expect-error: copies are a number
void agent.print({ pages: [], copycount: "2" });
// @ts-expect-error: waitForCompletion takes a timeout, not a state
void agent.print(form, { waitForCompletion: "completed" });
// @ts-expect-error: job events carry the spooler's states only
agent.on("job", ({ state }) => state === "done");
// @ts-expect-error: a card number is no object
void agent.simulate.card({ number: 1 });
// @ts-expect-error: the simulator cannot be replaced
agent.simulate = agent.simulate;
