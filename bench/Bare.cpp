// Does nothing: the cost of starting and ending a console process.
int wmain()
{
    return 0;
}
