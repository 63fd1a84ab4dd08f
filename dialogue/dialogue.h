// The dialogue with the operator, from the banner to the key wait.
#pragma once

int dialogue_main(int argc, char** argv);
