#pragma once

// Whether the spooler took the job that the last ended painter handed it. Some print
// engines hand the job over only when the painter ends and report nothing if the
// spooler refuses it or is gone.
bool spoolerTookLastJob();
