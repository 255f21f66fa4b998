#pragma once

#include <QString>

// Why a document could not be read or its rendering written, in words for the user.
struct RenderError
{
    QString message;
};
