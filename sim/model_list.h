// The registered models, one line each: SIM_MODEL(path, factory).
// Included by models.cpp only; paths without a line answer nothing.
SIM_MODEL("jmicron", make_jmicron_model)
SIM_MODEL("asmedia", make_asmedia_model)
SIM_MODEL("asmedia-legacy", make_asmedia_legacy_model)
SIM_MODEL("realtek", make_realtek_model)
SIM_MODEL("ofa", make_ofa_model)
SIM_MODEL("inbox", make_inbox_model)
