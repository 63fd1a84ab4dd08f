// The host used when no host file is named: one drive of every kind the tool
// knows, so every branch of the dialogue can be walked.
#include "sim/sim.h"

const char* sim_default_host_json() {
    return R"JSON({
  "os": {"major": 10, "minor": 0, "build": 19045, "csd": ""},
  "tick_start": 1000000,
  "drives": [
    {"number": 0, "path": "inbox", "vendor": null, "product": "Simulated NVMe SSD 512GB",
     "controller": {"model": "Simulated NVMe SSD 512GB", "serial": "SIM-INBOX-0000000001",
                    "firmware": "2B2QEXM7", "nsze": 1000215216, "lbads": [9]}},
    {"number": 1, "path": "ofa", "vendor": null, "product": "Simulated NVMe SSD 1TB",
     "controller": {"model": "Simulated NVMe SSD 1TB", "serial": "SIM-OFA-000000000002",
                    "firmware": "3B4QFXO7", "lbads": [9, 12]}},
    {"number": 2, "path": "jmicron", "vendor": "JMicron ", "product": "Generic NVMe",
     "controller": {"model": "Simulated NVMe 1TB (JMicron enclosure)",
                    "serial": "SIM-JMS-000000000003", "firmware": "1.0",
                    "lbads": [9, 12]}},
    {"number": 3, "path": "asmedia", "vendor": "ASMT    ", "product": "ASM2362 NVMe",
     "controller": {"model": "Simulated NVMe 2TB (ASMedia enclosure)",
                    "serial": "SIM-ASM-000000000004", "firmware": "2.1",
                    "nsze": 3907029168, "lbads": [9, 12]}},
    {"number": 4, "path": "asmedia-legacy", "vendor": "ASMT    ", "product": "ASM2362 NVMe",
     "controller": {"model": "Simulated NVMe 256GB (old ASMedia)",
                    "serial": "SIM-ASMOLD-000000005", "firmware": "0.9",
                    "nsze": 500118192, "lbads": [9]}},
    {"number": 5, "path": "realtek", "vendor": "Realtek ", "product": "RTL9210 NVME",
     "controller": {"model": "Simulated NVMe 500GB (Realtek enclosure)",
                    "serial": "SIM-RTL-000000000006", "firmware": "1.2",
                    "nsze": 976773168, "lbads": [9, 12]}},
    {"number": 6, "path": "none", "bus": 7, "vendor": "Generic ", "product": "USB Flash Disk",
     "controller": {"model": "Unreachable", "serial": "SIM-NONE-00000000007"}}
  ]
}
)JSON";
}
