export { watchForeground, ForegroundWatcher } from "./foreground.js";
export { captureWindow, type Capture, type CaptureOptions } from "./capture.js";
export { parseReport, type ForegroundReport, type WindowReport } from "./report.js";
export { writeWav, wavHeader, PCM_FORMAT, type PcmFormat, type WavResult } from "./wav.js";
export {
  HelperError,
  UsageError,
  CaptureError,
  captureErrorMeanings,
  type CaptureErrorWord,
} from "./errors.js";
export { defaultExe, type HelperOptions } from "./program.js";
export type { WindowHandle } from "./hwnd.js";
