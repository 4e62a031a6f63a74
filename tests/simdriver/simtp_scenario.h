/* Scenario record shared by simtpctl.exe (writes it) and simtp.sys (reads it
 * at every create). It travels as the REG_BINARY value "Scenario" under
 * HKLM\System\CurrentControlSet\Services\simtp. Only fixed-size plain types:
 * the same bytes are read by kernel and user code. */
#ifndef SIMTP_SCENARIO_H
#define SIMTP_SCENARIO_H

#define SIMTP_MAGIC 0x32505453u /* "STP2"; bump when the layout changes */
#define SIMTP_SLOTS 32          /* per-attempt entries; later attempts use *_rest */
#define SIMTP_DESC_LEN 30
#define SIMTP_REG_DESC 0x0020   /* the register that answers with the descriptor */

#define SIMTP_IOCTL_TP_OPEN 0x04001C00u
#define SIMTP_IOCTL_TP_CLOSE 0x04001C04u

/* Control device of the simulator itself (not the touchpad). */
#define SIMTP_CTL_RESET 0x80002400u  /* CTL_CODE(0x8000, 0x900, BUFFERED, ANY) */
#define SIMTP_CTL_STATUS 0x80002404u /* CTL_CODE(0x8000, 0x901, BUFFERED, ANY) */

enum simtp_mode {
    SIMTP_PEND = 0,  /* pend, complete after delay_ms with status */
    SIMTP_NOW = 1,   /* complete inside the dispatch routine with status */
    SIMTP_STUCK = 2  /* pend until cancelled */
};

struct simtp_behaviour {
    unsigned int mode;
    unsigned int delay_ms;
    int status;  /* NTSTATUS */
    int bytes;   /* byte count reported (and delivered by reads); -1: as asked */
    int byte0;   /* reads of the descriptor register: overrides byte 0; -1: no */
};

struct simtp_scenario {
    unsigned int magic;
    unsigned int size;
    int create_status;      /* 0: accept the open, else refuse with it */
    unsigned int exclusive; /* refuse a create while a handle is open */
    int busy_status;        /* status of that refusal */
    struct simtp_behaviour ioctl_open, ioctl_close;
    struct simtp_behaviour write[SIMTP_SLOTS], write_rest;
    struct simtp_behaviour read[SIMTP_SLOTS], read_rest;
    unsigned char descriptor[SIMTP_DESC_LEN];
    unsigned char other_fill; /* answer of any register but the descriptor's */
    unsigned char reserved;
};

struct simtp_status {
    unsigned int open_handles;
    unsigned int pending;
    unsigned int lines;       /* journal lines since the last reset */
    unsigned int dropped;     /* journal lines lost to a full buffer */
};

#endif
