#pragma once

#include <QString>

#include <exception>

// "Failed to connect." with the cause below it, in words a user can act on.
QString ConnectFailureText(const std::exception& Error, const QString& Port);
