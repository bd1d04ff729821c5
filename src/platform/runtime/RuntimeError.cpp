#include "RuntimeError.h"

#include <array>
#include <utility>

namespace rt {

namespace {
struct Entry {
    std::int32_t number;
    const char* text;
};

constexpr std::array<Entry, 14> kTexts{{
    {err::InvalidCall, "Llamada a procedimiento o argumento no válidos"},
    {err::Overflow, "Desbordamiento"},
    {err::OutOfMemory, "Memoria insuficiente"},
    {err::SubscriptOutOfRange, "El subíndice está fuera del intervalo"},
    {err::TypeMismatch, "No coinciden los tipos"},
    {err::BadFileName, "Nombre o número de archivo incorrecto"},
    {err::FileNotFound, "No se ha encontrado el archivo"},
    {err::DeviceIO, "Error de E/S de dispositivo"},
    {err::FileExists, "El archivo ya existe"},
    {err::DiskFull, "Disco lleno"},
    {err::PermissionDenied, "Permiso denegado"},
    {err::DiskNotReady, "El disco no está preparado"},
    {err::PathFileAccess, "Error de acceso a la ruta o el archivo"},
    {err::PathNotFound, "No se ha encontrado la ruta de acceso"},
}};
} // namespace

QString standardDescription(std::int32_t number) {
    for (const Entry& e : kTexts) {
        if (e.number == number) {
            return QString::fromUtf8(e.text);
        }
    }
    return {};
}

RuntimeError::RuntimeError(std::int32_t number)
    : RuntimeError(number, standardDescription(number)) {}

RuntimeError::RuntimeError(std::int32_t number, QString description)
    : number_(number), description_(std::move(description)),
      what_(QString::number(number).toStdString() + ": " + description_.toStdString()) {}

} // namespace rt
