#pragma once
// The error reporter: turns the run-time error being handled (the current
// error) into a modal message box.  oErrores is its one process-wide
// instance, created by the first failure path that needs it.

#include <QString>

class zuErrores_Sencillo {
public:
    // Shows "<sAmbito>. Error <number>: <description>" with style 0.
    void errorVB(QString sAmbito);
    // Shows "<sAmbito>. Error : <sMsg>" with style 0.
    void errorSinNumero(QString sAmbito, QString sMsg);
};

// The shared instance: created on first use, never replaced.
zuErrores_Sencillo& oErrores();
// Whether the shared instance exists yet (for tests of its lifecycle).
bool oErroresCreated();

// What every reporting failure path does: oErrores().errorVB(sAmbito).
inline void reportError(const QString& sAmbito) { oErrores().errorVB(sAmbito); }
