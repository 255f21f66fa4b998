// Types of kiv3-client.js, the client for the Kiv3 Device Proxy.

export declare const PLAIN_PORT: 54389;
export declare const SECURE_PORT: 54390;
/** Time a request waits for its answer unless told otherwise: 60 s. */
export declare const DEFAULT_TIMEOUT_MS: 60000;
/** The longest a print waits for its jobs to complete, as long as the agent follows them: 10 min. */
export declare const DEFAULT_COMPLETION_TIMEOUT_MS: 600000;

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

export interface CompletionOptions {
  /** The longest wait in ms, from the agent's reply; at most (and by default) 600000. */
  timeout?: number;
}

export interface PrintOptions extends RequestOptions {
  /** Print on this printer, replacing the document's own "printer"; the default printer otherwise. */
  printer?: string;
  /**
   * Resolve only once every job of the print has completed; reject with code "job-stopped",
   * "job-aborted" or "job-canceled" (and the job's state and reasons) as soon as one will
   * not, or with "timeout" after the wait's bound.
   */
  waitForCompletion?: boolean | CompletionOptions;
  /**
   * Hears each change of this print's jobs until every job has ended (with
   * waitForCompletion: until the print settles).
   */
  onJob?: (event: JobEvent) => void;
}

/** A spooler job's state, as the agent reports it. */
export type JobState =
  | "pending" | "held" | "processing" | "stopped" | "completed" | "canceled" | "aborted";

/** A change of a job of a print that this page asked for. */
export interface JobEvent {
  /** The request id of the print: the library's own, "k1" and on. */
  id: string;
  /** The spooler's job id, one of the print's outcome's jobs. */
  job: number;
  /** The printer (queue) the job is on. */
  printer: string;
  state: JobState;
  /** The spooler's reasons, such as "media-empty", "offline" or "door-open"; empty when it gives none. */
  reasons: string[];
}

/** A print that reached the spooler: one job id for each copy handed over (none for "copycount" 0). */
export interface PrintOutcome {
  ok: true;
  jobs: number[];
}

/** A printer and its state, from printerStatus(). */
export interface PrinterStatus {
  name: string;
  /** Whether it is the system's default printer. */
  default: boolean;
  state: "idle" | "printing" | "stopped" | "offline";
  /** The spooler's reasons, such as "media-empty" or "paused"; drivers that report nothing give none. */
  reasons: string[];
  /** Whether its queue takes new jobs. */
  accepting: boolean;
  /** Whether its driver takes custom paper sizes, as a receipt needs. */
  custompaper: boolean;
}

/** Why the agent did not print, with the text of its log line as the error's message. */
export type AgentErrorCode =
  | "invalid-printer" | "no-default-printer" | "paper-size" | "orientation" | "printer-failed"
  | "over-limit" | "missing-method" | "invalid-method" | "internal";

/**
 * Why a request or connection failed. The message says what to do.
 * - "timeout": no answer within the request's timeout (the agent may be busy printing or hung);
 * - "disconnected": the connection dropped before the answer (a print may still have printed);
 * - "closed": the page closed the client;
 * - "unreachable": no agent answers (not running, wrong host, firewall, or a local network block
 *   that the browser does not admit to);
 * - "certificate": the agent runs but the browser does not trust its certificate (wss);
 * - "local-network-access": the browser blocks this page from the local network;
 * - "blocked": the browser refused to open the connection at all (e.g. ws:// from an https page);
 * - an AgentErrorCode: the agent refused or failed the request ("invalid-method" also when it
 *   is too old for printerStatus());
 * - "job-stopped", "job-aborted", "job-canceled": a job of a print that waits for completion
 *   will not complete; job, printer, state and reasons say which and why.
 */
export declare class Kiv3Error extends Error {
  readonly name: "Kiv3Error";
  readonly code:
    | "timeout" | "disconnected" | "closed" | "unreachable" | "certificate"
    | "local-network-access" | "blocked" | AgentErrorCode
    | "job-stopped" | "job-aborted" | "job-canceled";
  /** Of a job that failed or did not complete in time: its id, printer, last state and reasons. */
  readonly job?: number;
  readonly printer?: string;
  readonly state?: JobState;
  readonly reasons?: string[];
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

/** Settings that both kinds of document take. Lengths are in millimetres. */
export interface PrintSettings {
  /** The printer's name as the system knows it; the default printer when absent or empty. */
  printer?: string;
  /** The job's title in the spooler. */
  docname?: string;
  /** 0 greyscale, 1 colour; the printer's own setting when absent. */
  colormode?: 0 | 1;
  /** The paper tray, numbered as Qt's QPrinter::PaperSource (0 to 14). */
  source?: number;
  /** Copies, each a spooler job of its own; below 1 prints nothing. Default 1. */
  copycount?: number;
  /** Page-based: the left margin; row-based: moves everything drawn to the right. */
  offsetx?: number;
  /** Page-based: the top margin; row-based: moves everything drawn down. */
  offsety?: number;
}

/** Sets the colour of later items: "#rrggbb" or a colour name. */
export interface PenItem {
  method: "pen";
  color?: string;
}

/** Sets the font of later text. */
export interface FontItem {
  method: "font";
  /** The font family. */
  name?: string;
  /** Points. */
  size?: number;
}

/** The outline of a rectangle. */
export interface RectItem {
  method: "rect";
  x?: number;
  y?: number;
  w?: number;
  h?: number;
}

export interface LineItem {
  method: "line";
  x1?: number;
  y1?: number;
  x2?: number;
  y2?: number;
}

/** Text in the box from (x, y) of w × h. */
export interface TextItem {
  method: "text";
  x?: number;
  y?: number;
  w?: number;
  h?: number;
  text?: string;
  /** Words: left, right, center and top, bottom, middle ("right bottom"). */
  align?: string;
  /** One line only. */
  single?: boolean;
  /** Breaks lines at words to fit the width. */
  wordwrap?: boolean;
  /** Lets the text run outside its box instead of being clipped. */
  outbound?: boolean;
}

export type PageItem = PenItem | FontItem | RectItem | LineItem | TextItem;

/** A document of pages, each a list of items drawn in order from the paper's top-left corner. */
export interface PageDocument extends PrintSettings {
  /** Any other value than "rowbase" also makes a page-based document. */
  doctype?: undefined;
  /** Qt's page size id: 0 A4, 1 B5, 2 Letter, ..., 30 custom from width and height (the default). */
  papersize?: number;
  /** The custom page's width (papersize 30). */
  width?: number;
  /** The custom page's height (papersize 30). */
  height?: number;
  /** 0 portrait (the default), 1 landscape. */
  orientation?: 0 | 1;
  pages: PageItem[][];
}

/** A rule along a cell's top or bottom edge. */
export type RowRule = "solid" | "dash";

/** A cell of a row; what it leaves out comes from the document's cell defaults. */
export interface RowCell {
  /** Left edge and width. */
  x?: number;
  w?: number;
  /** The colour of its text and rules. */
  c?: string;
  /** Font family, size in whole points, bold. */
  fn?: string;
  fs?: number;
  fb?: boolean;
  /** Wrapped to the cell's width unless single is true; line feeds always break. */
  text?: string;
  /** left, right or center. */
  align?: string;
  single?: boolean;
  /** Space above and below the text. */
  pt?: number;
  pb?: number;
  /** Rules along the top and the bottom. */
  lt?: RowRule;
  lb?: RowRule;
}

export interface Row {
  /** Space above and below this row, instead of the document's rmt and rmb. */
  mt?: number;
  mb?: number;
  /** Its cells side by side, all starting at the same top; or a single cell. */
  cs?: RowCell | RowCell[];
}

/** A receipt: one page "width" wide and exactly as high as its rows. */
export interface RowDocument extends PrintSettings {
  doctype: "rowbase";
  /** The paper's width. */
  width: number;
  /** Space above the first and below the last row. */
  mt?: number;
  mb?: number;
  /** Space above and below every row that has no mt or mb of its own. */
  rmt?: number;
  rmb?: number;
  /** Cell defaults: left edge (5), width (width minus 10), font family, size, colour. */
  cx?: number;
  cw?: number;
  cfn?: string;
  cfs?: number;
  cc?: string;
  /** The rows, top to bottom. */
  rs?: Row[];
}

/** A print document: page-based ("pages") or row-based ("doctype": "rowbase"). */
export type PrintDocument = PageDocument | RowDocument;

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
   * Resolves with the outcome once the copies are with the spooler (or, with
   * waitForCompletion, once every job has completed); rejects with a Kiv3Error whose code is
   * the agent's reason. An agent that does not report outcomes (an older one) resolves with
   * null, whether the job printed or not.
   */
  print(document: PrintDocument, options?: PrintOptions): Promise<PrintOutcome | null>;
  /** Every printer with its state; rejects with "invalid-method" from an agent without it. */
  printerStatus(options?: RequestOptions): Promise<PrinterStatus[]>;

  /** A card was presented: its 64-bit number exactly, as decimal text and as a BigInt. */
  on(event: "card", handler: (number: string, value: bigint) => void): () => void;
  /** A call came in: the caller's number ("" when the box reported none). */
  on(event: "callin", handler: (number: string) => void): () => void;
  /** A card reader is attached (also told at once on connecting): its label. */
  on(event: "reader", handler: (label: string) => void): () => void;
  /** The card reader was lost. */
  on(event: "unreader", handler: () => void): () => void;
  /** A job of a print this page asked for changed state. */
  on(event: "job", handler: (event: JobEvent) => void): () => void;
  on(event: "open", handler: (info: { url: string }) => void): () => void;
  /** A connection ended or an attempt failed; pending requests have been rejected. */
  on(event: "close", handler: (info: CloseInfo) => void): () => void;
  off(event: string, handler: (...args: any[]) => void): void;

  /** Ends the connection and any reconnection; pending requests reject with "closed". */
  close(): void;
}

/** Opens a connection to the agent at once; requests made while it opens wait for it. */
export declare function connect(options?: ConnectOptions): Kiv3Client;
