// Types of kiv3-client.js, the client for the Kiv3 Device Proxy.

export declare const PLAIN_PORT: 54389;
export declare const SECURE_PORT: 54390;
/** Time a request waits for its answer unless told otherwise: 60 s. */
export declare const DEFAULT_TIMEOUT_MS: 60000;

export interface ReconnectOptions {
  /** Wait before the first attempt after a loss or failure, doubled for each failure after it. Default 1000 ms. */
  minDelay?: number;
  /** The longest wait between attempts. Default 30000 ms. */
  maxDelay?: number;
}

export interface ConnectOptions {
  /** The computer the agent runs on. Default "localhost". */
  host?: string;
  /** wss on port 54390 instead of ws on 54389; its certificate must be trusted by the browser. */
  tls?: boolean;
  /** Reconnect with capped backoff after a loss or a failed attempt (the default, true), or never (false). */
  reconnect?: boolean | ReconnectOptions;
  /** Default timeout of each request in ms; 0 or Infinity waits for ever. Default 60000. */
  timeout?: number;
}

export interface RequestOptions {
  /** This request's timeout in ms, instead of the client's. */
  timeout?: number;
}

export interface PrintOptions extends RequestOptions {
  /** Print on this printer, replacing the document's own "printer"; the default printer otherwise. */
  printer?: string;
}

/**
 * Why a request or connection failed. The message says what to do.
 * - "timeout": no answer within the request's timeout (the agent may be busy printing or hung);
 * - "disconnected": the connection dropped before the answer (a print may still have printed);
 * - "closed": the page closed the client;
 * - "unreachable": no agent answers (not running, wrong host, firewall, or a local network block
 *   that the browser does not admit to);
 * - "certificate": the agent runs but the browser does not trust its certificate (wss);
 * - "local-network-access": the browser blocks this page from the local network;
 * - "blocked": the browser refused to open the connection at all (e.g. ws:// from an https page).
 */
export declare class Kiv3Error extends Error {
  readonly name: "Kiv3Error";
  readonly code:
    | "timeout" | "disconnected" | "closed" | "unreachable" | "certificate"
    | "local-network-access" | "blocked";
}

export interface AgentVersion {
  /** The agent's version, "2.7". */
  version: string;
  /** The name of the computer it runs on. */
  device: string;
  /** Present only when the agent runs with --simulate-devices: agent.simulate drives its devices. */
  simulated?: true;
}

/**
 * Drives the simulated devices of an agent started with --simulate-devices; every connected
 * page then receives the events as from real devices. Each resolves with null once the agent
 * has taken the request (an agent without simulated devices takes it and does nothing).
 */
export interface Kiv3Simulator {
  /** Attaches a card reader under this label ("USB-Serial Controller (COM3)" when none is given); an attached one is lost first. */
  reader(label?: string, options?: RequestOptions): Promise<null>;
  /** Loses the attached card reader. */
  unreader(options?: RequestOptions): Promise<null>;
  /**
   * Presents a card to the attached reader: any signed 64-bit number, as a bigint, a safe
   * integer or decimal text. Rejects with a TypeError or RangeError for anything else.
   */
  card(number: bigint | number | string, options?: RequestOptions): Promise<null>;
  /** A call comes in from this number (at most 128 UTF-8 bytes, no control characters). */
  callin(number?: string, options?: RequestOptions): Promise<null>;
}

export interface CloseInfo {
  /** The WebSocket close code (1006 when the connection failed or dropped). */
  code: number;
  /** Why; null when the page closed the client itself. */
  error: Kiv3Error | null;
  /** Milliseconds until the next attempt, or null when there is none. */
  retryIn: number | null;
  /** Whether this connection had been open, or was an attempt that failed. */
  wasOpen: boolean;
}

/** A print document: page-based ("pages") or row-based ("doctype": "rowbase"). */
export type PrintDocument = { [key: string]: unknown };

export interface Kiv3Client {
  readonly url: string;
  readonly host: string;
  readonly tls: boolean;
  readonly state: "connecting" | "open" | "waiting" | "closed";
  /** The simulated devices of an agent started with --simulate-devices. */
  readonly simulate: Kiv3Simulator;

  version(options?: RequestOptions): Promise<AgentVersion>;
  /** Names of the printers installed on the agent's computer. */
  printers(options?: RequestOptions): Promise<string[]>;
  /**
   * Resolves with null once the agent has handled the job, whether it printed or failed: the
   * agent answers null either way and writes the reason to its log only.
   */
  print(document: PrintDocument, options?: PrintOptions): Promise<null>;

  /** A card was presented: its 64-bit number exactly, as decimal text and as a BigInt. */
  on(event: "card", handler: (number: string, value: bigint) => void): () => void;
  /** A call came in: the caller's number ("" when the box reported none). */
  on(event: "callin", handler: (number: string) => void): () => void;
  /** A card reader is attached (also told at once on connecting): its label. */
  on(event: "reader", handler: (label: string) => void): () => void;
  /** The card reader was lost. */
  on(event: "unreader", handler: () => void): () => void;
  on(event: "open", handler: (info: { url: string }) => void): () => void;
  /** A connection ended or an attempt failed; pending requests have been rejected. */
  on(event: "close", handler: (info: CloseInfo) => void): () => void;
  off(event: string, handler: (...args: any[]) => void): void;

  /** Ends the connection and any reconnection; pending requests reject with "closed". */
  close(): void;
}

/** Opens a connection to the agent at once; requests made while it opens wait for it. */
export declare function connect(options?: ConnectOptions): Kiv3Client;
