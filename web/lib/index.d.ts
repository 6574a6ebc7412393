// zav-control: validate, check and diagnose employers' social-security payment files with
// the control ZAV compiled to WebAssembly. Keys are those of `zav check --all --json`.

export interface Options {
  /** The file's name (its extension and its first 8 characters are checked); by default
   * the name the file's header calls for, such as P0404268.ZAV. */
  name?: string;
  /** The date lateness is judged against, DD/MM/YYYY; default today. */
  serverDate?: string;
  /** Amount tolerance igToler, whole pesos, 0 to 255. */
  tolerance?: number;
  /** Management mode bgGerencia: older program versions accepted, lateness not checked. */
  management?: boolean;
  /** Diskettes the file came on (NumDiscos), default 1. */
  disks?: number;
  /** Told now and then how many of the file's records were walked. */
  onProgress?: (done: number, total: number) => void;
}

export interface Failure {
  number: number;
  description: string;
}

export interface Problem {
  /** The record's number, or null for the file as a whole. */
  record: number | null;
  /** The record's type as read, two digits ("03"). */
  type: string | null;
  field: string | null;
  start: number | null;
  length: number | null;
  /** The message number (null for a run-time failure) and its text. */
  message: number | null;
  text: string | null;
  failure: Failure | null;
  /** What the check compared. */
  compared: 'amount' | 'count' | 'date' | 'check_value' | 'text' | 'format' | null;
  /** What the file holds: amounts as text with two decimals ("1234.50"), counts as
   * numbers, dates DD/MM/YYYY, check values and texts as stored. */
  found: string | number | null;
  /** What it should hold, of the same kind; for "format" the rule ("11 dígitos"). */
  expected: string | number | null;
  /** Amounts: found - expected, and the tolerance in force. */
  difference: string | null;
  tolerance: string | null;
  /** How many worker and movement records the expected amount adds up. */
  workers: number | null;
  movements: number | null;
  /** 1-based positions in `found` that break the rule or differ. */
  marked: number[] | null;
  note: string | null;
  /** The deadline as written (messages 219, 253) and the days past the last day to pay (253). */
  deadline: string | null;
  days_late: number | null;
}

export interface Verdict {
  /** The control's own answer: "0", "5" or the message text. */
  result: string;
  accepted: boolean;
  message: number | null;
  /** Where the run stopped (the control's posicion). */
  record: number;
  capture_line: string | null;
  /** The parameter string sParamZAV. */
  param: string | null;
  failure: Failure | null;
}

export interface CheckResult extends Verdict {
  archive_name: null;
  archive: null;
  problems: Problem[];
}

export interface ValidateResult extends Verdict {
  /** The packed archive's name and bytes, when accepted. */
  archive_name: string | null;
  archive: Uint8Array | null;
}

/** As the payment page: validates and, when accepted, packs the file for upload. */
export function validate(file: Uint8Array, options?: Options): Promise<ValidateResult>;
/** The verdict of the file as it stands, with every problem it has. */
export function check(file: Uint8Array, options?: Options): Promise<CheckResult>;
/** Every problem of the file. */
export function diagnose(file: Uint8Array, options?: Options): Promise<Problem[]>;
/** The file name a payment file's header calls for. */
export function nameFromHeader(file: Uint8Array): string;
