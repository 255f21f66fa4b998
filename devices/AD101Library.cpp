#include "AD101Library.h"

#include <QLibrary>

namespace {

const char kProgramLibraryName[] = "AD101Device";

template<typename Function> Function resolve(QLibrary &library, const char *name)
{
    return reinterpret_cast<Function>(library.resolve(name));
}

} // namespace

bool AD101Library::isComplete() const
{
    return initDevice && setEventCallbackFun && getCallerID && freeDevice;
}

AD101Library AD101Library::load(const QString &fileName)
{
    QLibrary library(fileName);
    AD101Library functions;
    if (!library.load())
        return functions;
    functions.initDevice = resolve<InitDevice>(library, "AD101_InitDevice");
    functions.setEventCallbackFun
        = resolve<SetEventCallbackFun>(library, "AD101_SetEventCallbackFun");
    functions.getCallerID = resolve<GetCallerID>(library, "AD101_GetCallerID");
    functions.freeDevice = resolve<FreeDevice>(library, "AD101_FreeDevice");
    return functions;
}

const AD101Library &AD101Library::program()
{
    static const AD101Library functions = load(QString::fromLatin1(kProgramLibraryName));
    return functions;
}
