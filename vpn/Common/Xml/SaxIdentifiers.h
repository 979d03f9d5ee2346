#pragma once

// Class and interface identifiers of the platform's SAX reader. No import library supplies them,
// so they are defined here under names of their own.

#include <windows.h>

extern const IID kIID_ISAXXMLReader;
extern const IID kIID_ISAXContentHandler;
extern const IID kIID_ISAXErrorHandler;
// The MSXML 6.0 SAX reader, which can validate against a schema.
extern const CLSID kCLSID_SAXXMLReader60;
// The version-independent SAX reader of MSXML 3.0.
extern const CLSID kCLSID_SAXXMLReader;
