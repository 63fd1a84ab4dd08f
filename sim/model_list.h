// The registered models, one line each: SIM_MODEL(path, factory).
// Included by models.cpp only; paths without a line answer nothing.
SIM_MODEL("jmicron", make_jmicron_model)
