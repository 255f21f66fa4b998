// Compiled with tsc --noEmit against the installed package: the declarations must describe
// the library as docs/protocol.md shows it, and refuse what it does not take.
import { connect, Kiv3Error, DEFAULT_TIMEOUT_MS, type AgentVersion, type CloseInfo } from "kiv3-client";

const agent = connect({ host: "192.168.1.20", tls: true, reconnect: { maxDelay: 10_000 } });
connect({ reconnect: false, timeout: 5_000 });

async function use(): Promise<void> {
  const { version, device }: AgentVersion = await agent.version();
  const printers: string[] = await agent.printers({ timeout: DEFAULT_TIMEOUT_MS });
  const printed: null = await agent.print({ docname: "x", pages: [] }, { printer: printers[0] });
  console.log(version, device, printed);
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
  }
}

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
// @ts-expect-error: print resolves with null, not a status
void agent.print({}).then((status: { ok: boolean }) => status);
// @ts-expect-error: a card number is no object
void agent.simulate.card({ number: 1 });
// @ts-expect-error: the simulator cannot be replaced
agent.simulate = agent.simulate;
