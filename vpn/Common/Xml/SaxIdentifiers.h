#pragma once

// Class and interface identifiers of the platform's SAX reader and of its schema cache. No import library
// supplies them, so they are defined here under names of their own.

#include <windows.h>

extern const IID kIID_ISAXXMLReader;
extern const IID kIID_ISAXContentHandler;
extern const IID kIID_ISAXErrorHandler;
// The MSXML 6.0 SAX reader, which can validate against a schema.
extern const CLSID kCLSID_SAXXMLReader60;
// The version-independent SAX reader of MSXML 3.0.
extern const CLSID kCLSID_SAXXMLReader;
// The MSXML 6.0 DOM document and schema cache, which hand the reader a schema without a URL.
extern const CLSID kCLSID_DOMDocument60;
extern const CLSID kCLSID_XMLSchemaCache60;
extern const IID kIID_IXMLDOMDocument2;
extern const IID kIID_IXMLDOMSchemaCollection2;
