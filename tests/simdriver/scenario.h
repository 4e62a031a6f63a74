#ifndef SIMTP_SCENARIO_TEXT_H
#define SIMTP_SCENARIO_TEXT_H

#include <stddef.h>

#include "simtp_scenario.h"

/* Default scenario: every request pends 1 ms and succeeds, the descriptor
 * is the Palvero one (vid 0x245a, pid 0x000a, firmware 3.5). */
void simtp_default(struct simtp_scenario *s);

/* Applies the lines of text to s in order (later lines win). On error returns
 * -1 with "line N: why" in err; s may then be partly changed. */
int simtp_parse(struct simtp_scenario *s, const char *text, char *err, size_t errlen);

/* Canonical text of s, which simtp_parse reads back to the same record.
 * Returns -1 when buf is too small. */
int simtp_format(const struct simtp_scenario *s, char *buf, size_t len);

/* Name of a status the format knows ("io-error"), or NULL. */
const char *simtp_status_name(int status);

#endif
