// Client for the Kiv3 Device Proxy, the agent that lets a web page print and hear the card
// reader and caller-ID box of the computer it runs on. An ES module without dependencies:
//
//   import { connect } from "./kiv3-client.js";
//   const agent = connect({ host: "localhost" });
//   agent.on("card", (number) => console.log("card", number));
//   console.log(await agent.printers());
//   const { jobs } = await agent.print(receipt, { printer: "Kassa", waitForCompletion: true });
//
// An agent started with --simulate-devices says so in its version ({ simulated: true }) and
// takes agent.simulate.reader(label), .unreader(), .card(number) and .callin(number): its
// simulated devices then send every page the events that the real ones would.

export const PLAIN_PORT = 54389;
export const SECURE_PORT = 54390;
export const DEFAULT_TIMEOUT_MS = 60000;
// The agent follows a print's jobs for 10 minutes at most; waiting for them takes as long.
export const DEFAULT_COMPLETION_TIMEOUT_MS = 600000;

const PUSHED = ["reader", "unreader", "callin"];
const EVENTS = new Set(["card", "open", "close", "job", ...PUSHED]);
// Job states after which the spooler does nothing more with the job.
const JOB_ENDED = new Set(["completed", "canceled", "aborted"]);
// States in which a job will not complete unless someone sees to the printer or the queue.
const JOB_FAILED = new Set(["stopped", "canceled", "aborted"]);
// The jobs of one print whose states are kept; a print's copies are far fewer.
const MAX_JOBS_PER_PRINT = 1000;
// The agent sends the card number as a bare 64-bit integer: JSON.parse would round it above
// 2^53, so the digits are taken from the text.
const CARD = /^\s*\{\s*"card"\s*:\s*(-?\d+)\s*\}\s*$/;
const PROBE_MS = 3000;
// The agent's card numbers are signed 64-bit integers.
const CARD_MIN = -(2n ** 63n);
const CARD_MAX = 2n ** 63n - 1n;

export class Kiv3Error extends Error {
  // details: a failed job's job, printer, state and reasons.
  constructor(code, message, details = {}) {
    super(message);
    this.name = "Kiv3Error";
    this.code = code;
    Object.assign(this, details);
  }
}

const isPlainObject = (value) =>
  value !== null && typeof value === "object" && !Array.isArray(value);

// The agent's outcome of a print: {ok: true, jobs} is the success, a failure becomes a
// Kiv3Error with the agent's code and log text. An agent that does not report outcomes
// answers null whatever happened, and so does this.
function printOutcome(reply) {
  if (!isPlainObject(reply) || typeof reply.ok !== "boolean") return null;
  if (!reply.ok) throw new Kiv3Error(String(reply.code ?? "internal"), String(reply.message ?? ""));
  return { ok: true, jobs: Array.isArray(reply.jobs) ? reply.jobs : [] };
}

// A pushed {"job": {...}} as the page sees it, or null when it is none.
function jobEvent(value) {
  if (!isPlainObject(value)) return null;
  return {
    id: String(value.id ?? ""), job: value.job, printer: String(value.printer ?? ""),
    state: String(value.state ?? ""),
    reasons: Array.isArray(value.reasons) ? value.reasons.map(String) : [],
  };
}

// How long a print waits for its jobs: the agent follows them no longer than its own bound.
function completionLimit(wait) {
  const timeout = wait?.timeout;
  return timeout > 0 && timeout < DEFAULT_COMPLETION_TIMEOUT_MS ? timeout
                                                                : DEFAULT_COMPLETION_TIMEOUT_MS;
}

const stateText = ({ state, reasons }) =>
  `${state} (${reasons.length ? reasons.join(", ") : "the spooler gave no reason"})`;

function describeJob(event) {
  return `print job ${event.job} on "${event.printer}" is ${stateText(event)}`;
}

function jobFailure(event) {
  const { job, printer, state, reasons } = event;
  return new Kiv3Error(`job-${state}`, describeJob(event) +
    (state === "stopped" ? ": it stays in the queue and may print once the printer is seen to" : ""),
    { job, printer, state, reasons });
}

// A card number as the agent takes it, decimal text, from a bigint, a safe integer or text.
function cardText(number) {
  let value;
  if (typeof number === "bigint") value = number;
  else if (typeof number === "number" && Number.isSafeInteger(number)) value = BigInt(number);
  else if (typeof number === "string" && /^-?\d+$/.test(number)) value = BigInt(number);
  else throw new TypeError("a card number is a bigint, a safe integer or decimal text");
  if (value < CARD_MIN || value > CARD_MAX)
    throw new RangeError("a card number is a signed 64-bit integer");
  return value.toString();
}

// One page handler's fault must not stop the others, nor the client.
function callSafely(handler, args) {
  try {
    handler(...args);
  } catch (error) {
    setTimeout(() => { throw error; });
  }
}

export function connect(options = {}) {
  return new Kiv3Client(options);
}

const bracketed = (host) => (host.includes(":") && !host.startsWith("[") ? `[${host}]` : host);
const bare = (host) => host.replace(/^\[|\]$/g, "").toLowerCase();

function isLoopback(host) {
  const h = bare(host);
  return h === "localhost" || h.endsWith(".localhost") || h === "::1" || /^127\./.test(h);
}

const PRIVATE = /^(10\.|192\.168\.|169\.254\.|172\.(1[6-9]|2\d|3[01])\.|f[cd]|fe80:)/;
const isAddress = (h) => /^[\d.]+$/.test(h) || h.includes(":");

// The browser's address spaces: 0 public, 1 local network, 2 this computer. A page needs the
// user's permission to reach a space above its own. The agent's host given by a name counts
// as local; a page's name counts as public unless it is .local.
function addressSpace(host, isPage) {
  const h = bare(host);
  if (h === "" || isLoopback(h)) return 2;
  if (isAddress(h)) return PRIVATE.test(h) ? 1 : 0;
  return !isPage || h.endsWith(".local") ? 1 : 0;
}

class Kiv3Client {
  #handlers = new Map();
  #pending = new Map(); // id -> request
  #versions = []; // version queries in the order sent: their replies carry no id
  #queued = []; // requests made while connecting
  #socket = null;
  #state = "connecting";
  #nextId = 1;
  #failures = 0;
  #retryTimer = null;
  #lastError = null;
  #agentSeen = false; // set when this failure streak's probe found the plain endpoint open
  #followed = new Map(); // print request id -> the progress of its jobs

  constructor({ host = "localhost", tls = false, reconnect = true, timeout = DEFAULT_TIMEOUT_MS } = {}) {
    this.host = String(host || "localhost");
    this.tls = Boolean(tls);
    this.url = this.tls ? `wss://${bracketed(this.host)}:${SECURE_PORT}`
                        : `ws://${bracketed(this.host)}:${PLAIN_PORT}`;
    this.timeout = timeout;
    const backoff = reconnect === true ? {} : reconnect;
    this.reconnect = backoff ? { minDelay: 1000, maxDelay: 30000, ...backoff } : null;
    this.simulate = Object.freeze({
      reader: (label, options = {}) => this.#simulate("simulate.reader",
        label === undefined ? undefined : { label: String(label) }, options),
      unreader: (options = {}) => this.#simulate("simulate.unreader", undefined, options),
      card: (number, options = {}) => {
        let card;
        try {
          card = cardText(number);
        } catch (error) {
          return Promise.reject(error);
        }
        return this.#simulate("simulate.card", { card }, options);
      },
      callin: (number = "", options = {}) =>
        this.#simulate("simulate.callin", { number: String(number) }, options),
    });
    this.#open();
  }

  /** "connecting", "open", "waiting" (for the next attempt) or "closed". */
  get state() {
    return this.#state;
  }

  version(options = {}) {
    return this.#request(null, "version", options);
  }

  printers(options = {}) {
    return this.#request({ method: "print.getprinters" }, "print.getprinters", options)
      .then((names) => (Array.isArray(names) ? names : []));
  }

  // Resolves with the agent's outcome, {ok: true, jobs}, once the copies are with the spooler,
  // or once every job has completed with waitForCompletion; a failure rejects with the agent's
  // code. onJob hears the progress of this print's jobs.
  print(document, options = {}) {
    const { waitForCompletion = false, onJob } = options;
    if (!isPlainObject(document))
      return Promise.reject(new TypeError("print() takes the document as an object"));
    if (onJob !== undefined && typeof onJob !== "function")
      return Promise.reject(new TypeError("print()'s onJob is a function"));
    const data = options.printer ? { ...document, printer: String(options.printer) } : document;
    const id = this.#newId();
    const progress = waitForCompletion || onJob ? this.#startFollowing(id, onJob) : null;
    const outcome = this.#request({ method: "print.print", outcome: true, data }, "print.print",
                                  options, id).then(printOutcome);
    if (!progress) return outcome;
    return outcome.then((value) => this.#followJobs(progress, value, waitForCompletion),
                        (error) => {
                          this.#stopFollowing(progress);
                          throw error;
                        });
  }

  // The printers with their states; an agent that does not know the method answers null.
  printerStatus(options = {}) {
    return this.#request({ method: "print.getprinterstatus" }, "print.getprinterstatus", options)
      .then((printers) => {
        if (!Array.isArray(printers))
          throw new Kiv3Error("invalid-method", `the agent at ${this.url} does not report ` +
                              `printer states: it is older than this client library`);
        return printers.filter(isPlainObject);
      });
  }

  // Resolves with null once the agent has taken the request; only an agent with simulated
  // devices acts on it, and the events come as from real devices.
  #simulate(method, data, options) {
    const message = data === undefined ? { method } : { method, data };
    return this.#request(message, method, options).then(() => null);
  }

  on(event, handler) {
    if (!EVENTS.has(event)) throw new TypeError(`no such event: ${event}`);
    if (!this.#handlers.has(event)) this.#handlers.set(event, new Set());
    this.#handlers.get(event).add(handler);
    return () => this.off(event, handler);
  }

  off(event, handler) {
    this.#handlers.get(event)?.delete(handler);
  }

  close() {
    if (this.#state === "closed") return;
    const wasOpen = this.#state === "open";
    this.#state = "closed";
    clearTimeout(this.#retryTimer);
    const socket = this.#socket;
    this.#socket = null;
    if (socket) {
      socket.onopen = socket.onmessage = socket.onclose = null;
      socket.close();
    }
    const error = new Kiv3Error("closed", "the page closed the connection to the agent");
    this.#dropAll(() => error);
    this.#endFollowing(error);
    this.#emit("close", { code: 1000, error: null, retryIn: null, wasOpen });
  }

  // ---- requests --------------------------------------------------------

  #newId() {
    return `k${this.#nextId++}`;
  }

  #request(message, method, { timeout = this.timeout } = {}, id = message ? this.#newId() : null) {
    if (this.#state === "closed" || this.#state === "waiting")
      return Promise.reject(this.#lastError ?? new Kiv3Error("closed", "the client is closed"));
    return new Promise((resolve, reject) => {
      const text = message ? JSON.stringify({ id, ...message }) : "";
      const request = { method, text, id, timer: null, done: false, sent: false };
      request.fail = (error) => {
        if (request.done) return;
        request.done = true;
        clearTimeout(request.timer);
        reject(error);
      };
      request.succeed = (value) => {
        if (request.done) return;
        request.done = true;
        clearTimeout(request.timer);
        resolve(value);
      };
      if (timeout > 0 && timeout < Infinity) {
        request.timer = setTimeout(() => {
          if (id) this.#pending.delete(id);
          request.fail(new Kiv3Error("timeout",
            `the agent did not answer ${method} within ${timeout / 1000} s: it may be busy with a ` +
            `long print job or hung; look at its log window` +
            (method === "print.print" ? " (the job may still print)" : "")));
        }, timeout);
      }
      if (this.#state === "open") this.#send(request);
      else this.#queued.push(request);
    });
  }

  #send(request) {
    if (request.done) return;
    // A version query stays in line after its timeout, so that later replies find their own.
    if (request.id) this.#pending.set(request.id, request);
    else this.#versions.push(request);
    request.sent = true;
    this.#socket.send(request.text);
  }

  #dropAll(makeError) {
    const requests = [...this.#queued, ...this.#pending.values(), ...this.#versions];
    this.#queued = [];
    this.#pending.clear();
    this.#versions = [];
    for (const request of requests) request.fail(makeError(request));
  }

  // ---- a print's jobs --------------------------------------------------

  // Job events may come before the print's reply: they are kept from the moment it is sent.
  #startFollowing(id, onJob) {
    const progress = {
      id, onJob, jobs: null, states: new Map(), waits: false, timer: null, finish: null,
    };
    this.#followed.set(id, progress);
    return progress;
  }

  #stopFollowing(progress) {
    clearTimeout(progress.timer);
    this.#followed.delete(progress.id);
  }

  // With the outcome's jobs known, follows them until they have ended, or, when the page
  // waits, until they have completed or one of them has failed, within the wait's bound.
  #followJobs(progress, outcome, wait) {
    if (outcome === null || outcome.jobs.length === 0) {
      this.#stopFollowing(progress);
      return outcome;
    }
    const settled = new Promise((resolve, reject) => {
      progress.finish = (error) => {
        this.#stopFollowing(progress);
        if (error && wait) reject(error);
        else resolve(outcome);
      };
    });
    progress.jobs = outcome.jobs;
    progress.waits = Boolean(wait);
    const limit = completionLimit(wait);
    progress.timer = setTimeout(() => progress.finish(this.#overdue(progress, limit)), limit);
    this.#checkJobs(progress);
    return wait ? settled : outcome;
  }

  #checkJobs(progress) {
    if (!progress.finish) return;
    const latest = progress.jobs.map((job) => progress.states.get(job));
    const failed = progress.waits && latest.find((event) => JOB_FAILED.has(event?.state));
    if (failed) progress.finish(jobFailure(failed));
    else if (latest.every((event) => (progress.waits ? event?.state === "completed"
                                                      : JOB_ENDED.has(event?.state))))
      progress.finish(null);
  }

  #overdue(progress, limit) {
    const job = progress.jobs.find((id) => progress.states.get(id)?.state !== "completed");
    const last = progress.states.get(job);
    const within = `print job ${job} did not complete within ${limit / 1000} s`;
    if (!last)
      return new Kiv3Error("timeout", `${within}, and the agent told nothing of it`, { job });
    const { printer, state, reasons } = last;
    return new Kiv3Error("timeout", `${within} on "${printer}": it is ${stateText(last)} and ` +
                         `may still print`, { job, printer, state, reasons });
  }

  #onJobEvent(event) {
    const progress = this.#followed.get(event.id);
    if (progress) {
      if (progress.states.has(event.job) || progress.states.size < MAX_JOBS_PER_PRINT)
        progress.states.set(event.job, event);
      if (progress.onJob) callSafely(progress.onJob, [event]);
      this.#checkJobs(progress);
    }
    this.#emit("job", event);
  }

  // The agent stops following a page's jobs when its connection ends; so does the page.
  #endFollowing(reason) {
    for (const progress of [...this.#followed.values()]) {
      progress.finish?.(new Kiv3Error(reason.code,
        `the print's jobs are no longer followed: ${reason.message}; they may still print`));
    }
  }

  // ---- messages --------------------------------------------------------

  #onMessage(text) {
    if (typeof text !== "string") return;
    const card = CARD.exec(text);
    if (card) {
      this.#emit("card", card[1], BigInt(card[1]));
      return;
    }
    let message;
    try {
      message = JSON.parse(text);
    } catch {
      return;
    }
    if (message === null || typeof message !== "object" || Array.isArray(message)) return;
    if ("version" in message && "device" in message) {
      this.#versions.shift()?.succeed({
        version: message.version, device: message.device,
        ...(message.simulated === true ? { simulated: true } : {}),
      });
      return;
    }
    const keys = Object.keys(message);
    if (keys.length !== 1) return;
    const [key] = keys;
    const request = this.#pending.get(key);
    if (request) {
      this.#pending.delete(key);
      request.succeed(message[key]);
    } else if (key === "job") {
      const event = jobEvent(message.job);
      if (event) this.#onJobEvent(event);
    } else if (PUSHED.includes(key)) {
      this.#emit(key, ...(key === "unreader" ? [] : [String(message[key] ?? "")]));
    }
  }

  #emit(event, ...args) {
    for (const handler of [...(this.#handlers.get(event) ?? [])]) callSafely(handler, args);
  }

  // ---- connection ------------------------------------------------------

  #open() {
    this.#state = "connecting";
    let socket;
    try {
      socket = new WebSocket(this.url);
    } catch (error) {
      // A page served over https may not open ws:// to another computer (mixed content).
      // Reported once the page has had the chance to listen.
      const refused = new Kiv3Error("blocked",
        `the browser refused ${this.url}: ${error.message}. A page served over https must use ` +
        `tls: true (wss) for any host but localhost`);
      queueMicrotask(() => this.#failed(refused, false, 1006));
      return;
    }
    this.#socket = socket;
    socket.onopen = () => {
      this.#state = "open";
      this.#failures = 0;
      this.#agentSeen = false;
      this.#lastError = null;
      this.#emit("open", { url: this.url });
      const queued = this.#queued;
      this.#queued = [];
      for (const request of queued) this.#send(request);
    };
    socket.onmessage = (event) => this.#onMessage(event.data);
    socket.onclose = (event) => {
      socket.onopen = socket.onmessage = socket.onclose = null;
      if (socket !== this.#socket) return;
      this.#socket = null;
      const wasOpen = this.#state === "open";
      if (wasOpen) {
        this.#failed(new Kiv3Error("disconnected",
          `the connection to the agent at ${this.url} was lost (code ${event.code})`), true, event.code);
      } else {
        this.#diagnose().then((error) => this.#failed(error, false, event.code));
      }
    };
  }

  #failed(error, wasOpen, code) {
    if (this.#state === "closed") return;
    this.#lastError = error;
    this.#dropAll((request) => new Kiv3Error(error.code,
      `no answer to ${request.method}: ${error.message}` +
      (request.sent && request.method === "print.print" ? "; the job may still have printed" : "")));
    this.#endFollowing(error);
    let retryIn = null;
    if (this.reconnect) {
      retryIn = Math.min(this.reconnect.maxDelay, this.reconnect.minDelay * 2 ** this.#failures);
      this.#failures += 1;
      this.#state = "waiting";
      this.#retryTimer = setTimeout(() => this.#open(), retryIn);
    } else {
      this.#state = "closed";
    }
    this.#emit("close", { code, error, retryIn, wasOpen });
  }

  // The browser tells a page nothing about why a WebSocket failed; this names the likely cause.
  async #diagnose() {
    const page = globalThis.location ?? { hostname: "", origin: "" };
    const needsPermission = addressSpace(page.hostname, true) < addressSpace(this.host, false);
    const permission = needsPermission ? await this.#networkPermission() : null;
    const howToAllow = `allow it in the site settings (the icon beside the address), or have an ` +
      `administrator allow ${page.origin} with the browser policy ` +
      `LocalNetworkAccessAllowedForUrls (LoopbackNetworkAllowedForUrls for localhost)`;
    if (permission && permission.state === "denied") {
      return new Kiv3Error("local-network-access",
        `the browser blocks this page from reaching ${this.url} on the local network ` +
        `(permission "${permission.name}" denied)` +
        (globalThis.isSecureContext === false
          ? `: it is never granted to a page served over http; serve ${page.origin} over https`
          : `: ${howToAllow}`));
    }
    if (needsPermission && globalThis.isSecureContext === false) {
      return new Kiv3Error("local-network-access",
        `the browser blocks this page (${page.origin}, not a secure context) from reaching ` +
        `${this.url} on the local network without asking: serve the page over https`);
    }
    if (this.tls && (this.#agentSeen || (this.#failures === 0 && await this.#plainEndpointOpen()))) {
      this.#agentSeen = true;
      return new Kiv3Error("certificate",
        `the agent runs on ${this.host}, but this browser does not trust its certificate for ` +
        `${this.url}: open https://${bracketed(this.host)}:${SECURE_PORT}/ once and accept the ` +
        `warning, then connect again`);
    }
    let message = `no agent answers at ${this.url}: start Kiv3 Device Proxy on ${this.host}` +
      (this.tls ? `; if it runs, open https://${bracketed(this.host)}:${SECURE_PORT}/ once and ` +
                  `accept its certificate` : "");
    if (permission && permission.state === "prompt")
      message += `; or the browser's prompt to reach devices on the local network was not ` +
                 `accepted: ${howToAllow}`;
    else if (needsPermission && !permission)
      message += `; or the browser blocks this page from the local network: ${howToAllow}`;
    return new Kiv3Error("unreachable", message);
  }

  async #networkPermission() {
    const names = [isLoopback(this.host) ? "loopback-network" : "local-network",
                   "local-network-access"];
    for (const name of names) {
      try {
        const status = await navigator.permissions.query({ name });
        return { name, state: status.state };
      } catch {
        // An older browser without this permission name.
      }
    }
    return null;
  }

  // Whether the agent's plain endpoint answers, to tell an untrusted certificate from an agent
  // that is not running. Browsers forbid it from https pages to other hosts than localhost.
  #plainEndpointOpen() {
    return new Promise((resolve) => {
      let probe;
      try {
        probe = new WebSocket(`ws://${bracketed(this.host)}:${PLAIN_PORT}`);
      } catch {
        resolve(false);
        return;
      }
      const timer = setTimeout(() => finish(false), PROBE_MS);
      const finish = (open) => {
        clearTimeout(timer);
        probe.onopen = probe.onclose = null;
        probe.close();
        resolve(open);
      };
      probe.onopen = () => finish(true);
      probe.onclose = () => finish(false);
    });
  }
}
